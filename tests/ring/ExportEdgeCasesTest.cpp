// Replay and export of rings whose records sit at the edges: audio ahead of the key frame, audio older than
// the first played record, durations that do not divide evenly, empty indexes, a missing ring, key frames
// with malformed parameter sets.

#include "ring/AnnexB.h"
#include "ring/Export.h"
#include "ring/RingMediaTypes.h"
#include "ring/RingReplay.h"
#include "ring/RingSurvey.h"

#include "CaptureRing.h"
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
        const int played = ReplayRing(ring, writer).samples;
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

// Writes the fields of a parameter set, most significant bit first.
class BitWriter {
public:
    void Bits(std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (m_used % 8 == 0)
                m_bytes.push_back(0);
            m_bytes.back() |= std::uint8_t(((value >> i) & 1) << (7 - m_used % 8));
            ++m_used;
        }
    }
    void Golomb(std::uint32_t value) {
        const std::uint64_t code = std::uint64_t(value) + 1;
        const int length = 64 - __builtin_clzll(code);
        Bits(0, length - 1);
        Bits(code, length);
    }
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
    int m_used = 0;
};

// A 64x48 HEVC SPS that ends inside its first short-term reference picture set.
std::vector<std::uint8_t> SpsRunningOutInItsReferenceSets() {
    BitWriter sps;
    sps.Bits(0x4201, 16); // unit header: SPS, layer 0, temporal id 1
    sps.Bits(0, 4);       // VPS id
    sps.Bits(0, 3);       // one sub-layer
    sps.Bits(1, 1);
    sps.Bits(0x01, 8);                             // Main profile
    sps.Bits(0x60000000, 32);                      // compatibility
    sps.Bits(0, 48);                               // constraints
    sps.Bits(60, 8);                               // level 2
    for (std::uint32_t value : {0u, 1u, 64u, 48u}) // SPS id, 4:2:0, size
        sps.Golomb(value);
    sps.Bits(0, 1);                          // no conformance window
    for (std::uint32_t value : {0u, 0u, 4u}) // bit depths, picture order count bits
        sps.Golomb(value);
    sps.Bits(1, 1);
    for (int field = 0; field < 9; ++field) // ordering info, block sizes and depths
        sps.Golomb(0);
    sps.Bits(0, 4); // no scaling lists, AMP, SAO or PCM
    sps.Golomb(1);  // one short-term set
    sps.Golomb(1);  // with one picture before the current one, and the unit ends
    return sps.Bytes();
}

std::vector<std::uint8_t> ReplaceSps(const std::vector<std::uint8_t>& accessUnit,
                                     const std::vector<std::uint8_t>& sps) {
    std::vector<std::uint8_t> replaced;
    for (std::span<const std::uint8_t> unit : SplitAnnexB(accessUnit)) {
        if (((unit[0] >> 1) & 0x3F) == 33)
            unit = sps;
        replaced.insert(replaced.end(), {0, 0, 0, 1});
        replaced.insert(replaced.end(), unit.begin(), unit.end());
    }
    return replaced;
}

TEST_F(ExportEdges, PicturesBehindMalformedHevcParameterSetsAreLeftOutAndTheRestExported) {
    constexpr int Gop = 15;
    std::vector<EncodedPacket> packets =
        EncodeCapture({"libx265", 64, 48, 30, Gop, 50000}, {"aac", 48000, 2, 64000}, 2.6);
    std::vector<EncodedPacket*> keyFrames;
    for (EncodedPacket& packet : packets)
        if (packet.kind == EncodedPacket::Video && packet.cleanPoint)
            keyFrames.push_back(&packet);
    ASSERT_GE(keyFrames.size(), 5u);
    const std::vector<std::uint8_t> soundSets = ProbeKeyFrame(keyFrames[1]->data)->parameterSets;
    // The first key frame opens the ring; the third one sits in its middle.
    for (EncodedPacket* keyFrame : {keyFrames[0], keyFrames[2]})
        keyFrame->data = ReplaceSps(keyFrame->data, SpsRunningOutInItsReferenceSets());
    const std::wstring name = m_folder.Wide("malformed");
    const auto records = WriteCaptureRing(name, 60, packets);
    const auto pictures = std::count_if(records.begin(), records.end(), [](const CaptureRingRecord& record) {
        return (record.header.flags & RingFlagAudio) == 0;
    });

    // The stream is described by the first key frame whose parameter sets are sound.
    std::string error;
    const std::optional<RingSurvey> survey = SurveyRing(name, error);
    ASSERT_TRUE(survey && survey->keyFrame);
    EXPECT_EQ(survey->keyFrame->parameterSets, soundSets);

    LogCapture log;
    const ExportResult result = Export(name, name, CreateVideoTypeFromKeyFrame(*survey->keyFrame).Get(),
                                       CreateRecordedAudioType().Get());
    EXPECT_EQ(result.outcome, ExportResult::Outcome::Partial);
    EXPECT_EQ(result.damage.malformedPictures, 2u * Gop);
    EXPECT_TRUE(log.Contains("WARN damaged ring: 30 pictures with malformed parameter sets left out"));
    const auto mp4 = m_folder.Path("malformed.mp4");
    const auto video = ProbePackets(mp4, "v");
    ASSERT_EQ(video.size(), std::size_t(pictures - 2 * Gop));
    EXPECT_TRUE(video[0].keyFrame);
    EXPECT_TRUE(video[Gop].keyFrame); // the fourth key frame follows the second at once
    // The sound of the left-out opening went with it, so both streams still start together.
    const auto streams = ProbeStreams(mp4);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_NEAR(std::stod(streams[0].at("duration")), std::stod(streams[1].at("duration")), 0.1);
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
