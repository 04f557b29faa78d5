// Export of a 60-second 1080p60 ring into MP4. The same packets as raw stream files are what
// bench/export-vs-ffmpeg.sh hands to ffmpeg for the comparison.

#include "ExportBenchRing.h"

#include "ring/Export.h"
#include "ring/KeyFrameProbe.h"
#include "ring/RingFile.h"
#include "ring/RingMediaTypes.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

std::filesystem::path BenchFolder() {
    const char* folder = std::getenv("PYX_BENCH_RING_DIR");
    return folder != nullptr ? folder : std::filesystem::temp_directory_path() / "pyx-export-bench";
}

void BM_ExportRing(benchmark::State& state) {
    const ExportBenchRing files = MakeExportBenchRing(BenchFolder(), 60.0);
    RingFile ring;
    if (ring.OpenForRead(files.ring.wstring())) {
        state.SkipWithError("the benchmark ring cannot be read");
        return;
    }
    RingPacketHeader header{};
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    std::optional<KeyFrameInfo> keyFrame;
    while (!keyFrame && !ring.ReadNext(header, payload, size))
        if (IsRingVideoKeyFrame(header.flags))
            keyFrame = ProbeKeyFrame({payload, size});
    ring.Close();
    const auto videoType = CreateVideoTypeFromKeyFrame(*keyFrame);
    const auto audioType = CreateRecordedAudioType();
    const std::wstring output = (BenchFolder() / "exported").wstring();
    for (auto _ : state) {
        Export(files.ring.wstring(), output, videoType.Get(), audioType.Get());
        state.PauseTiming();
        std::filesystem::remove(output + L".mp4");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(files.bytes));
}

BENCHMARK(BM_ExportRing)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
