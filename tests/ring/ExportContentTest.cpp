// The export of a ring with real encoded content, written the way the capture writes it, checked with ffprobe
// and by decoding the MP4 against the source frames.

#include "ring/Export.h"
#include "ring/KeyFrameProbe.h"
#include "ring/RingFile.h"
#include "ring/RingTime.h"

#include "CaptureRing.h"
#include "LogCapture.h"
#include "MediaProbe.h"
#include "TempDirectory.h"
#include "TestMediaTypes.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const VideoSettings Video{"libx264", 1280, 720, 60, 120, 0};
const AudioSettings Audio{};

// What a replay plays: everything from the first record on that is not older than it on the wrapping
// timeline.
std::vector<RingPacketHeader> ReplayedRecords(const std::wstring& name) {
    RingFile ring;
    EXPECT_FALSE(ring.OpenForRead(name));
    std::vector<RingPacketHeader> records;
    RingPacketHeader header{};
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    while (!ring.ReadNext(header, payload, size))
        if (records.empty() || !RingTimeBefore(header.timestamp, records.front().timestamp))
            records.push_back(header);
    return records;
}

double Seconds(uint32_t ticks) { return ticks / 90000.0; }

// A recording running for most of a day has timestamps that wrap at 2^32 ticks; one that is saved while the
// retained history crosses the wrap must come out the same as one near the start.
class ExportContent : public ::testing::TestWithParam<uint32_t> {};

INSTANTIATE_TEST_SUITE_P(Timelines, ExportContent,
                         ::testing::Values(0u, uint32_t(0x100000000ull - 6 * 90000 - 45000)));

TEST_P(ExportContent, RemuxesTheRetainedHistoryIntoAPlayableMp4) {
    TempDirectory folder;
    const std::wstring name = folder.Wide("crash-report");
    const auto packets = EncodeCapture(Video, Audio, 9.0);
    // Segments of 3 s with a key frame every 2 s: the ring keeps 4 s to 9 s, across both segments (and
    // across the wrap at 6.5 s with the second base time).
    const uint32_t base = GetParam();
    const auto written = WriteCaptureRing(name, 3, packets, base);

    std::vector<std::uint8_t> sequenceHeader;
    for (const EncodedPacket& packet : packets) {
        if (packet.kind == EncodedPacket::Video && packet.cleanPoint) {
            sequenceHeader = ProbeKeyFrame(packet.data)->parameterSets;
            break;
        }
    }
    AudioEncoder configSource(Audio);
    {
        LogCapture log;
        Export(name, name, MakeVideoType(Video, sequenceHeader).Get(),
               MakeAacType(48000, 2, configSource.CodecConfig()).Get());
        EXPECT_EQ(log.Count("ERROR"), 0u);
    }

    const auto replayed = ReplayedRecords(name);
    ASSERT_FALSE(replayed.empty());
    std::vector<RingPacketHeader> video;
    std::vector<RingPacketHeader> audio;
    for (const RingPacketHeader& record : replayed)
        ((record.flags & RingFlagAudio) ? audio : video).push_back(record);
    ASSERT_GT(video.size(), 240u);
    EXPECT_NEAR(Seconds(replayed.front().timestamp - base), 4.0, 0.05);

    const auto mp4 = folder.Path("crash-report.mp4");
    const auto streams = ProbeStreams(mp4);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), "h264");
    EXPECT_EQ(streams[0].at("width"), "1280");
    EXPECT_EQ(streams[0].at("height"), "720");
    EXPECT_EQ(streams[0].at("r_frame_rate"), "60/1");
    EXPECT_EQ(streams[1].at("codec_name"), "aac");
    EXPECT_EQ(streams[1].at("sample_rate"), "48000");
    EXPECT_EQ(streams[1].at("channels"), "2");
    EXPECT_EQ(std::stod(streams[0].at("start_time")), 0.0);
    EXPECT_EQ(std::stod(streams[1].at("start_time")), 0.0);
    EXPECT_EQ(std::stoul(streams[0].at("nb_read_packets")), video.size());
    EXPECT_EQ(std::stoul(streams[1].at("nb_read_packets")), audio.size());

    const auto videoPackets = ProbePackets(mp4, "v");
    ASSERT_FALSE(videoPackets.empty());
    EXPECT_TRUE(videoPackets.front().keyFrame);
    // In order and continuous: each packet starts where the one before it ended.
    for (std::size_t i = 1; i < videoPackets.size(); ++i)
        EXPECT_NEAR(videoPackets[i].time, videoPackets[i - 1].time + videoPackets[i - 1].duration, 0.002)
            << "packet " << i;

    const double videoSpan =
        Seconds(video.back().timestamp + video.back().duration - video.front().timestamp);
    const double audioSpan =
        Seconds(audio.back().timestamp + audio.back().duration - audio.front().timestamp);
    EXPECT_NEAR(std::stod(streams[0].at("duration")), videoSpan, 1.0 / 60);
    EXPECT_NEAR(std::stod(streams[1].at("duration")), audioSpan, 1024.0 / 48000);

    // MP4 frame k shows source frame first + k.
    int firstFrame = -1;
    for (const CaptureRingRecord& record : written)
        if (record.header.timestamp == video.front().timestamp && !(record.header.flags & RingFlagAudio))
            firstFrame = record.frame;
    ASSERT_GE(firstFrame, 0);
    constexpr int Every = 30;
    const auto decoded = DecodeEveryNthFrame(mp4, Video.width, Video.height, Every);
    ASSERT_EQ(decoded.size(), (video.size() + Every - 1) / Every);
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const int source = firstFrame + int(i) * Every;
        EXPECT_GT(Psnr(decoded[i], MakePatternFrame(source, Video.width, Video.height)), 35.0)
            << "frame " << source;
    }
}

} // namespace
