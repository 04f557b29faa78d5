#include "Export.h"

#include "FreshFile.h"
#include "Mp4Writer.h"
#include "RingFile.h"
#include "RingReplay.h"

#include "Util/ErrorText.h"
#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include <mferror.h>
#include <stringapiset.h>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

// Holds one platform start-up for the duration of the export, also when the writer's creation throws.
class PlatformStartup {
public:
    PlatformStartup()
        : m_started(SUCCEEDED(LogIfFailed(MFStartup(MF_VERSION, MFSTARTUP_FULL),
                                          "MFStartup( MF_VERSION, MFSTARTUP_FULL )"))) {}
    ~PlatformStartup() {
        if (m_started)
            LogIfFailed(MFShutdown(), "MFShutdown()");
    }
    PlatformStartup(const PlatformStartup&) = delete;
    PlatformStartup& operator=(const PlatformStartup&) = delete;

private:
    bool m_started;
};

// The fresh file the export writes, removed unless it was renamed into place.
class FreshOutput {
public:
    explicit FreshOutput(const fs::path& path) : m_path(path) {}
    ~FreshOutput() {
        std::error_code ignored;
        if (!m_path.empty())
            fs::remove(m_path, ignored);
    }
    FreshOutput(const FreshOutput&) = delete;
    FreshOutput& operator=(const FreshOutput&) = delete;

    const fs::path& Path() const { return m_path; }
    bool MoveTo(const fs::path& path, std::string& error) {
        if (!ReplaceWithFresh(m_path, path, error))
            return false;
        m_path.clear();
        return true;
    }

private:
    fs::path m_path;
};

ExportResult Failure(ExportResult result, std::string failure) {
    LogError("%s", failure.c_str());
    result.outcome = ExportResult::Outcome::Failed;
    result.failure = std::move(failure);
    return result;
}

} // namespace

ExportResult Export(const std::wstring& ringName, const std::wstring& outputName, IMFMediaType* videoType,
                    IMFMediaType* audioType) {
    PlatformStartup startup;
    ExportResult result;
    const fs::path path = WideToUtf8(outputName + L".mp4");
    fs::path freshPath;
    std::string error;
    const HANDLE reserved = CreateFreshFile(path, ".mp4", freshPath, error);
    if (reserved == nullptr)
        return Failure(result, error);
    CloseHandle(reserved);
    FreshOutput fresh(freshPath);

    Mp4Writer writer(Utf8ToWide(fresh.Path().native()), videoType, audioType, nullptr, nullptr, nullptr,
                     true);
    writer.BeginWriting();

    LogDebug("reading the ringfile...");
    auto ring = std::make_unique<RingFile>();
    if (ring->OpenForRead(ringName)) {
        LogError("unable to read the ringfile");
        writer.Finalize();
        return Failure(result,
                       "unable to read the ring files of " + WideToUtf8(ringName) + ": " + ring->OpenError());
    }
    const ReplayOutcome replay = ReplayRing(*ring, writer);
    result.packets = replay.samples;
    result.damage = ring->Damage();
    result.damage.malformedPictures = replay.malformedPictures;
    LogDebug("%d packets in the ringfile", result.packets);
    const HRESULT finalized = writer.Finalize();
    ring->Close();
    ring.reset();

    if (result.packets == 0) {
        result.outcome = ExportResult::Outcome::Empty;
        return result;
    }
    std::error_code sizeError;
    const std::uintmax_t size = fs::file_size(fresh.Path(), sizeError);
    if (FAILED(finalized) || sizeError || size == 0) {
        const std::string why = finalized == MF_E_SINK_NO_SAMPLES_PROCESSED
                                    ? "the writer took none of the packets"
                                : FAILED(finalized) ? ErrorText(finalized)
                                : sizeError         ? ErrorText(sizeError)
                                                    : "nothing was written";
        return Failure(result, "unable to write " + path.string() + ": " + why);
    }
    if (result.damage.Any()) {
        LogWarn("damaged ring: %s", result.damage.Describe().c_str());
        result.outcome = ExportResult::Outcome::Partial;
        std::error_code existsError;
        if (fs::exists(fs::symlink_status(path, existsError))) {
            result.failure = path.string() + " was kept; the partial export did not replace it";
            LogWarn("%s", result.failure.c_str());
            return result;
        }
    } else {
        result.outcome = ExportResult::Outcome::Written;
    }
    if (!fresh.MoveTo(path, error))
        return Failure(result, error);
    result.pictures = replay.pictures;
    return result;
}
