// A real recording's ring with one kind of damage at a time: the reader skips exactly the damaged part, says
// how much it skipped, and plays everything after it; what a stopped writer leaves is no damage.

#include "ring/Export.h"
#include "ring/RingFile.h"

#include "CaptureRing.h"
#include "LogCapture.h"
#include "MediaProbe.h"
#include "RingTestSupport.h"
#include "TestEncoders.h"
#include "TestMediaTypes.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

struct Replay {
    std::vector<RingPacketHeader> records;
    RingDamage damage;
};

Replay ReplayAll(const std::wstring& name) {
    Replay replay;
    RingFile ring;
    EXPECT_FALSE(ring.OpenForRead(name));
    RingPacketHeader header{};
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    while (!ring.ReadNext(header, payload, size))
        replay.records.push_back(header);
    replay.damage = ring.Damage();
    return replay;
}

// The offsets of the records of a data file, walked by their sizes.
std::vector<uint64_t> RecordOffsets(const Bytes& data) {
    std::vector<uint64_t> offsets;
    for (uint64_t at = 0; at + sizeof(RingPacketHeader) <= data.size();) {
        offsets.push_back(at);
        RingPacketHeader header;
        std::memcpy(&header, data.data() + at, sizeof header);
        at += sizeof header + header.size;
    }
    return offsets;
}

void PutU32(Bytes& bytes, uint64_t at, uint32_t value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

class RingDamage_ : public ::testing::Test {
protected:
    void SetUp() override {
        static const std::vector<EncodedPacket> packets =
            EncodeCapture({"libx264", 320, 180, 60, 120, 0}, {}, 9.0);
        WriteCaptureRing(m_name, 3, packets);
        for (unsigned segment = 0; segment < 2; ++segment) {
            m_data[segment] = ReadBytes(RingDataPath(m_name, segment));
            m_index[segment] = ReadBytes(RingIndexPath(m_name, segment));
        }
        m_clean = ReplayAll(m_name);
        ASSERT_FALSE(m_clean.damage.Any());
        ASSERT_GT(m_clean.records.size(), 300u);
        // Segments of 3 s with key frames every 2 s: segment 1 holds 4 s to 8 s and is played first, then
        // segment 0 from 8 s on.
        ASSERT_FALSE(m_data[0].empty());
        ASSERT_FALSE(m_data[1].empty());
    }

    // Writes segment `segment`'s data file changed by `change`; the other files as they were.
    template <class Change>
    Replay ReplayWithData(unsigned segment, Change change) {
        Bytes data = m_data[segment];
        change(data);
        WriteBytes(RingDataPath(m_name, segment), data);
        Replay replay = ReplayAll(m_name);
        WriteBytes(RingDataPath(m_name, segment), m_data[segment]);
        return replay;
    }

    TempDirectory m_folder;
    std::wstring m_name = m_folder.Wide("report");
    Bytes m_data[2];
    Bytes m_index[2];
    Replay m_clean;
};

TEST_F(RingDamage_, DamagedRecordsAreSkippedCountedAndEverythingAfterThemIsPlayed) {
    // The record played first lies in segment 1; damage its fifth record's size, then another's time.
    const std::vector<uint64_t> offsets = RecordOffsets(m_data[1]);
    ASSERT_GT(offsets.size(), 20u);
    const uint64_t fifth = offsets[offsets.size() - 15];
    const uint64_t fifthBytes = offsets[offsets.size() - 14] - fifth;

    const Replay hugeSize = ReplayWithData(1, [&](Bytes& data) { PutU32(data, fifth + 8, 0xFFFFFFFFu); });
    EXPECT_EQ(hugeSize.records.size(), m_clean.records.size() - 1);
    EXPECT_EQ(hugeSize.damage.skippedStretches, 1u);
    EXPECT_EQ(hugeSize.damage.skippedBytes, fifthBytes);
    EXPECT_EQ(hugeSize.damage.Describe(),
              "1 damaged stretch (" + std::to_string(fifthBytes) + " bytes) skipped");

    const Replay farTime = ReplayWithData(1, [&](Bytes& data) { PutU32(data, fifth, 0x7FFFFFFFu); });
    EXPECT_EQ(farTime.records.size(), m_clean.records.size() - 1);
    EXPECT_EQ(farTime.damage.skippedBytes, fifthBytes);
    for (const RingPacketHeader& record : farTime.records)
        EXPECT_NE(record.timestamp, 0x7FFFFFFFu);

    const Replay badFlags = ReplayWithData(1, [&](Bytes& data) { PutU32(data, fifth + 12, 0x40u); });
    EXPECT_EQ(badFlags.records.size(), m_clean.records.size() - 1);

    // The older segment's end cut off: the newer segment is still played in full.
    const Replay cutOlder = ReplayWithData(1, [&](Bytes& data) { data.resize(fifth + 20); });
    EXPECT_EQ(cutOlder.damage.skippedStretches, 1u);
    EXPECT_EQ(cutOlder.records.back().timestamp, m_clean.records.back().timestamp);

    // A garbage index entry is reported; the records themselves are all still played.
    Bytes index = m_index[0];
    ASSERT_GE(index.size(), 24u);
    PutU32(index, 0, 0x12345);
    WriteBytes(RingIndexPath(m_name, 0), index);
    const Replay badIndex = ReplayAll(m_name);
    EXPECT_EQ(badIndex.damage.ignoredIndexEntries, 1u);
    EXPECT_EQ(badIndex.records.size(), m_clean.records.size());
}

// A recorder killed while writing leaves its last record (and maybe that record's index entry) incomplete.
TEST_F(RingDamage_, ACutOffLastRecordIsNoDamage) {
    const std::vector<uint64_t> offsets = RecordOffsets(m_data[0]);
    const Replay cut = ReplayWithData(0, [&](Bytes& data) { data.resize(offsets.back() + 20); });
    EXPECT_FALSE(cut.damage.Any()) << cut.damage.Describe();
    EXPECT_EQ(cut.records.size(), m_clean.records.size() - 1);
}

// The export of a damaged ring says it is partial and what it skipped, and its times stay those of the
// recording: one far timestamp does not stretch the video to hours.
TEST_F(RingDamage_, APartialExportKeepsTheRecordingsLengthAndNeverReplacesAnExistingFile) {
    const std::vector<uint64_t> offsets = RecordOffsets(m_data[0]);
    Bytes data = m_data[0];
    PutU32(data, offsets[10], 0x7FFFFFFFu);
    PutU32(data, offsets[30] + 8, 0xFFFFFFFFu);
    WriteBytes(RingDataPath(m_name, 0), data);

    AudioEncoder configSource({});
    const auto videoType = MakeVideoType({"libx264", 320, 180, 60, 120, 0});
    const auto audioType = MakeAacType(48000, 2, configSource.CodecConfig());
    const fs::path mp4 = m_folder.Path("report.mp4");
    ExportResult result;
    {
        LogCapture log;
        result = Export(m_name, m_name, videoType.Get(), audioType.Get());
        EXPECT_TRUE(log.Contains("WARN damaged ring: 2 damaged stretches (" +
                                 std::to_string(result.damage.skippedBytes) + " bytes) skipped"));
    }
    EXPECT_EQ(result.outcome, ExportResult::Outcome::Partial);
    EXPECT_EQ(result.packets, static_cast<int>(m_clean.records.size()) - 2);
    ASSERT_TRUE(fs::exists(mp4));
    EXPECT_LT(std::stod(ProbeStreams(mp4).at(0).at("duration")), 10.0);

    // Once a file is there, a partial export leaves it alone; no stray file remains beside it.
    WriteBytes(mp4, Bytes{1, 2, 3});
    result = Export(m_name, m_name, videoType.Get(), audioType.Get());
    EXPECT_EQ(result.outcome, ExportResult::Outcome::Partial);
    EXPECT_EQ(ReadBytes(mp4), (Bytes{1, 2, 3}));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.Root()), fs::directory_iterator()), 5);
}

} // namespace
