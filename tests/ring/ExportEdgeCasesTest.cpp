// Replay and export of rings whose records sit at the edges: audio ahead of the key frame, audio older than
// the first played record, durations that do not divide evenly, empty indexes, a missing ring.

#include "ring/Export.h"
#include "ring/RingReplay.h"

#include "ExportTestRing.h"
#include "LogCapture.h"
#include "MediaProbe.h"
#include "TempDirectory.h"
#include "TestMediaTypes.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t T = 900000;

class ExportEdges : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(MFStartup(MF_VERSION), S_OK); }
    void TearDown() override { MFShutdown(); }

    std::vector<ReplayedSample> Replay(const std::wstring& name, int* count = nullptr) {
        RingFile ring;
        EXPECT_FALSE(ring.OpenForRead(name));
        RecordingWriter writer;
        const int played = ReplayRing(ring, writer);
        if (count != nullptr)
            *count = played;
        return writer.samples;
    }

    void ExportRing(const std::wstring& name) {
        AudioEncoder configSource({});
        Export(name, name, MakeVideoType({"libx264", 320, 180, 60, 120, 0}).Get(),
               MakeAacType(48000, 2, configSource.CodecConfig()).Get());
    }

    static const SmallContent& Content() {
        static const SmallContent content;
        return content;
    }

    TempDirectory m_folder;
};

TEST_F(ExportEdges, AudioAheadOfTheKeyFrameStillLetsBothStreamsStartAtZero) {
    const SmallContent& c = Content();
    const std::wstring name = m_folder.Wide("ahead");
    WriteRing(name, {{&c.audio[0], T, 1920},
                     {&c.video[0], T + 3000, 1500},
                     {&c.audio[1], T + 1920, 1920},
                     {&c.video[1], T + 4500, 1500},
                     {&c.audio[2], T + 3840, 1920},
                     {&c.video[2], T + 6000, 1500}});
    // With empty indexes the replay starts at the first record of segment 0, the audio packet.
    EmptyIndexFiles(m_folder.Path(""), "ahead");

    const auto samples = Replay(name);
    ASSERT_EQ(samples.size(), 6u);
    EXPECT_TRUE(samples[0].audio);
    EXPECT_EQ(samples[0].time, 0);
    EXPECT_EQ(samples[1].time, 333333); // 3000 ticks after the first record
    EXPECT_TRUE(samples[1].cleanPoint);
    EXPECT_FALSE(samples[3].cleanPoint);

    LogCapture log;
    ExportRing(name);
    EXPECT_EQ(log.Count("ERROR"), 0u);
    const auto mp4 = m_folder.Path("ahead.mp4");
    const auto streams = ProbeStreams(mp4);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(std::stod(streams[0].at("start_time")), 0.0);
    EXPECT_EQ(std::stod(streams[1].at("start_time")), 0.0);
    const auto video = ProbePackets(mp4, "v");
    ASSERT_EQ(video.size(), 3u);
    EXPECT_EQ(video[0].time, 0.0);
    EXPECT_NEAR(video[1].time, 1500 / 90000.0, 1e-4);
    EXPECT_TRUE(video[0].keyFrame);
}

TEST_F(ExportEdges, RecordsOlderThanTheFirstPlayedOneAreSkippedAndNotCounted) {
    const SmallContent& c = Content();
    const std::wstring name = m_folder.Wide("older");
    WriteRing(name, {{&c.video[0], T, 1500},
                     {&c.audio[0], T - 2000, 1920}, // audio lagging behind the key frame
                     {&c.audio[1], T + 100, 1920},
                     {&c.video[1], T + 1500, 1500},
                     {&c.audio[2], T - 1, 1920},
                     {&c.video[2], T + 3000, 1500}});
    int count = 0;
    const auto samples = Replay(name, &count);
    EXPECT_EQ(count, 4);
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_EQ(samples[0].time, 0);
    EXPECT_FALSE(samples[0].audio);
    EXPECT_EQ(samples[1].time, 11111); // 100 ticks
    EXPECT_TRUE(samples[1].audio);

    LogCapture log;
    ExportRing(name);
    EXPECT_TRUE(log.Contains("DEBUG 4 packets in the ringfile"));
    const auto streams = ProbeStreams(m_folder.Path("older.mp4"));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("nb_read_packets"), "3");
    EXPECT_EQ(streams[1].at("nb_read_packets"), "1");
}

TEST_F(ExportEdges, TicksBecomeHundredNanosecondUnitsTruncated) {
    const SmallContent& c = Content();
    const std::wstring name = m_folder.Wide("ticks");
    WriteRing(name, {{&c.video[0], T, 3003}, {&c.video[1], T + 3003, 3003}, {&c.video[2], T + 6006, 1}});
    const auto samples = Replay(name);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[0].duration, 333666);
    EXPECT_EQ(samples[1].time, 333666);
    EXPECT_EQ(samples[2].time, 667333);
    EXPECT_EQ(samples[2].duration, 111);
    EXPECT_EQ(samples[1].size, c.video[1].data.size());
}

TEST_F(ExportEdges, EmptyIndexFilesReplayFromTheStartOfSegmentZero) {
    const SmallContent& c = Content();
    const std::wstring name = m_folder.Wide("noindex");
    std::vector<PlacedRecord> records;
    // Audio before the first key frame: normally not played, here the first record.
    records.push_back({&c.audio[0], T - 1920, 1920});
    for (int i = 0; i < 30; ++i)
        records.push_back({&c.video[std::size_t(i)], T + uint32_t(i) * 1500, 1500});
    WriteRing(name, records);

    int indexed = 0;
    Replay(name, &indexed);
    EXPECT_EQ(indexed, 30);
    EmptyIndexFiles(m_folder.Path(""), "noindex");
    int count = 0;
    const auto samples = Replay(name, &count);
    EXPECT_EQ(count, 31);
    ASSERT_FALSE(samples.empty());
    EXPECT_TRUE(samples.front().audio);

    LogCapture log;
    ExportRing(name);
    EXPECT_TRUE(log.Contains("DEBUG 31 packets in the ringfile"));
    const auto streams = ProbeStreams(m_folder.Path("noindex.mp4"));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("nb_read_packets"), "30");
}

TEST_F(ExportEdges, AMissingRingIsLoggedAndLeavesNoFileBehind) {
    LogCapture log;
    ExportRing(m_folder.Wide("absent"));
    const auto lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "DEBUG reading the ringfile...");
    EXPECT_EQ(lines[1], "ERROR unable to read the ringfile");
    // The empty file cannot be finalized; it is reported and removed.
    EXPECT_TRUE(log.Contains("ERROR m_sinkWriter->Finalize() failed with error 0xc00d4a44"));
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("absent.mp4")));
}

} // namespace
