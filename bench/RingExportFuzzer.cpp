// libFuzzer target: the ring reader and the export of `pyx-video --export` on arbitrary ring files. Checks
// what no ring may break: reading ends, every payload lies inside its file (AddressSanitizer watches the
// reads), the export ends with one of its outcomes and leaves no file of its own behind but NAME.mp4.
// Built and run by scripts/fuzz-ring.

#include "RingFuzzInput.h"

#include "ring/Export.h"
#include "ring/RingFile.h"
#include "ring/RingMediaTypes.h"
#include "ring/RingSurvey.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path Folder() {
    static const fs::path folder = [] {
        const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        fs::path path = base / ("pyx-ring-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(path);
        return path;
    }();
    return folder;
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring name = (Folder() / "ring").wstring();
    const RingFuzzFiles files = UnpackRingFuzzInput(data, size);
    const auto paths = RingFuzzPaths(name);
    for (std::size_t i = 0; i < files.size(); ++i)
        WriteFile(paths[i], files[i]);

    RingFile ring;
    if (!ring.OpenForRead(name)) {
        RingPacketHeader header{};
        const std::uint8_t* payload = nullptr;
        std::uint32_t payloadSize = 0;
        std::size_t records = 0;
        unsigned checksum = 0;
        while (!ring.ReadNext(header, payload, payloadSize)) {
            // Each record takes at least its header from the files, so reading must end by then.
            if (++records > size / 16 + 1)
                std::abort();
            if (payloadSize != 0)
                checksum += payload[0] + payload[payloadSize - 1];
        }
        (void)checksum;
        ring.Close();
    }

    std::string error;
    const std::optional<RingSurvey> survey = SurveyRing(name, error);
    if (survey && survey->keyFrame) {
        const ComPtr<IMFMediaType> video = CreateVideoTypeFromKeyFrame(*survey->keyFrame);
        const ComPtr<IMFMediaType> audio = survey->audioPackets > 0 ? CreateRecordedAudioType() : nullptr;
        try {
            const ExportResult result = Export(name, name, video.Get(), audio.Get());
            const bool written = result.outcome == ExportResult::Outcome::Written ||
                                 (result.outcome == ExportResult::Outcome::Partial && result.failure.empty());
            if (written != fs::exists(Folder() / "ring.mp4"))
                std::abort();
        } catch (const std::exception&) {
            // A stream type the writer refuses is reported by a throw; the export removed its file.
        }
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(Folder()))
        if (entry.path().filename().string().front() == '.')
            std::abort();
    std::error_code ignored;
    fs::remove(Folder() / "ring.mp4", ignored);
    return 0;
}
