// Ring throughput for a 1080p60 recording: ~100 KB key frames every 120 frames, ~20 KB delta frames, and
// ~400-byte AAC packets (1024 samples at 48 kHz). Files live in a private temporary folder.

#include "ring/RingFile.h"

#include "TempDirectory.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t KeyFrameSize = 100 * 1024;
constexpr uint32_t DeltaFrameSize = 20 * 1024;
constexpr uint32_t AudioPacketSize = 400;
constexpr uint32_t FramePeriod = 1500; // 60 frames/s in 90 kHz ticks
constexpr uint32_t AudioPeriod = 1920; // 1024 samples at 48 kHz
constexpr uint32_t KeyFrameInterval = 120;

enum class Streams { Video, Audio, Both };

// The packets of an endless recording in arrival order.
class PacketSource {
public:
    explicit PacketSource(Streams streams) : m_streams(streams), m_payload(KeyFrameSize, 0x5A) {}

    RingPacketHeader Next() {
        const bool video = m_streams == Streams::Video || (m_streams == Streams::Both && m_video <= m_audio);
        if (video) {
            const bool key = m_frame++ % KeyFrameInterval == 0;
            const RingPacketHeader header{m_video, FramePeriod, key ? KeyFrameSize : DeltaFrameSize,
                                          key ? RingFlagKeyFrame : 0u};
            m_video += FramePeriod;
            return header;
        }
        const RingPacketHeader header{m_audio, AudioPeriod, AudioPacketSize,
                                      RingPacketFlags(RingStreamKind::Audio, false)};
        m_audio += AudioPeriod;
        return header;
    }

    const uint8_t* Payload() const { return m_payload.data(); }

private:
    Streams m_streams;
    std::vector<uint8_t> m_payload;
    uint32_t m_frame = 0;
    uint32_t m_video = 0;
    uint32_t m_audio = 0;
};

void BM_RingWrite(benchmark::State& state, Streams streams) {
    TempDirectory folder;
    RingFile ring;
    if (!ring.OpenForWrite(folder.Wide("ring"), 10)) {
        state.SkipWithError("cannot create the ring files");
        return;
    }
    PacketSource source(streams);
    int64_t bytes = 0;
    for (auto _ : state) {
        const RingPacketHeader header = source.Next();
        if (ring.Write(header, source.Payload(), header.size) != 0) {
            state.SkipWithError("write failed");
            break;
        }
        bytes += header.size;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
}
BENCHMARK_CAPTURE(BM_RingWrite, video, Streams::Video);
BENCHMARK_CAPTURE(BM_RingWrite, audio, Streams::Audio);
BENCHMARK_CAPTURE(BM_RingWrite, recording, Streams::Both);

// A full replay as the export does it: map, walk every record and copy each payload once.
void BM_RingReplay(benchmark::State& state) {
    TempDirectory folder;
    {
        RingFile ring;
        if (!ring.OpenForWrite(folder.Wide("ring"), 10)) {
            state.SkipWithError("cannot create the ring files");
            return;
        }
        PacketSource source(Streams::Both);
        for (RingPacketHeader header = source.Next(); header.timestamp < 30 * RingTicksPerSecond;
             header = source.Next()) {
            ring.Write(header, source.Payload(), header.size);
        }
    }
    std::vector<uint8_t> sample(KeyFrameSize);
    int64_t packets = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        RingFile reader;
        if (reader.OpenForRead(folder.Wide("ring"))) {
            state.SkipWithError("cannot read the ring files");
            break;
        }
        RingPacketHeader header{};
        const uint8_t* payload = nullptr;
        uint32_t size = 0;
        while (!reader.ReadNext(header, payload, size)) {
            std::memcpy(sample.data(), payload, size);
            benchmark::DoNotOptimize(sample.data());
            ++packets;
            bytes += size;
        }
    }
    state.SetItemsProcessed(packets);
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_RingReplay)->Unit(benchmark::kMillisecond);

} // namespace
