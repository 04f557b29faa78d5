// Writes the ring fuzzer's seed corpus: make-ring-fuzz-seeds FOLDER. Each seed is a real recording's ring
// (encoded test content written the way the capture writes it), small enough to mutate quickly.

#include "RingFuzzInput.h"

#include "CaptureRing.h"
#include "TestEncoders.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make-ring-fuzz-seeds FOLDER\n");
        return 2;
    }
    const fs::path folder = argv[1];
    fs::create_directories(folder);
    struct Seed {
        const char* name;
        VideoSettings video;
        double seconds;
        std::uint32_t duration;
    };
    // One segment only; two segments with the older one played first; HEVC.
    const Seed seeds[] = {
        {"h264-one-segment", {"libx264", 64, 48, 30, 30, 50000}, 1.5, 10},
        {"h264-two-segments", {"libx264", 64, 48, 30, 15, 50000}, 3.2, 1},
        {"hevc-two-segments", {"libx265", 64, 48, 30, 15, 50000}, 2.6, 1},
    };
    for (const Seed& seed : seeds) {
        const fs::path work = folder / (std::string(seed.name) + ".ring");
        fs::create_directories(work);
        const std::wstring name = (work / "ring").wstring();
        WriteCaptureRing(name, seed.duration,
                         EncodeCapture(seed.video, {"aac", 48000, 2, 64000}, seed.seconds));
        RingFuzzFiles files;
        const auto paths = RingFuzzPaths(name);
        for (std::size_t i = 0; i < files.size(); ++i) {
            std::ifstream in(paths[i], std::ios::binary);
            files[i].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        fs::remove_all(work);
        const std::vector<std::uint8_t> input = PackRingFuzzInput(files);
        std::ofstream(folder / seed.name, std::ios::binary)
            .write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
        std::printf("%s: %zu bytes\n", seed.name, input.size());
    }
    return 0;
}
