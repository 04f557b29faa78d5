#include "RingTestSupport.h"

namespace {

namespace fs = std::filesystem;

// A ring laid out by hand, so that the reader is tested against the format rather than the writer.
struct HandMadeRing {
    TempDirectory folder;
    Bytes data[2];
    Bytes index[2];

    Record Add(unsigned segment, uint32_t timestamp, uint32_t flags, uint32_t size) {
        const Record record = MakeRecord(timestamp, flags, size);
        const uint64_t offset = AppendRecord(data[segment], record);
        if (flags == VideoKey) {
            AppendIndexEntry(index[segment], offset, record.header);
        }
        return record;
    }

    std::wstring Save() const {
        for (unsigned i = 0; i < 2; ++i) {
            WriteBytes(folder.Path("ring" + std::to_string(i)), data[i]);
            WriteBytes(folder.Path("ring" + std::to_string(i) + ".idx"), index[i]);
        }
        return folder.Wide("ring");
    }
};

std::vector<Record> Play(const std::wstring& name) {
    RingFile reader;
    EXPECT_FALSE(reader.OpenForRead(name));
    return ReadAll(reader);
}

TEST(RingFileRead, AShortRecordingPlaysSegmentZeroFromItsFirstKeyFrame) {
    TempDirectory folder;
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(folder.Wide("ring"), 10));
    PutPacket(ring, 0, Audio, 30);
    PutPacket(ring, 1920, Audio, 30);
    const Record key = PutPacket(ring, 3000, VideoKey, 200);
    const Record audio = PutPacket(ring, 3840, Audio, 30);
    const Record delta = PutPacket(ring, 4500, VideoDelta, 50);
    ring.Close();
    EXPECT_TRUE(ReadBytes(folder.Path("ring1")).empty());
    EXPECT_TRUE(ReadBytes(folder.Path("ring1.idx")).empty());
    ExpectSameRecords(Play(folder.Wide("ring")), {key, audio, delta});
}

TEST(RingFileRead, OfEqualKeyFrameTimestampsTheLaterEntryWins) {
    TempDirectory folder;
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(folder.Wide("ring"), 10));
    PutPacket(ring, 1000, VideoKey, 20);
    PutPacket(ring, 2500, VideoDelta, 20);
    const Record again = PutPacket(ring, 1000, VideoKey, 20);
    const Record delta = PutPacket(ring, 2500, VideoDelta, 20);
    ring.Close();
    ExpectSameRecords(Play(folder.Wide("ring")), {again, delta});

    // Across segments, segment 1 is read later and wins.
    HandMadeRing handMade;
    const Record older = handMade.Add(0, 5000, VideoKey, 10);
    const Record one = handMade.Add(1, 5000, VideoKey, 10);
    const Record two = handMade.Add(1, 6500, VideoDelta, 10);
    ExpectSameRecords(Play(handMade.Save()), {one, two, older});
}

TEST(RingFileRead, WithoutIndexedKeyFramesPlaysSegmentZeroThenSegmentOne) {
    HandMadeRing ring;
    const Record a = ring.Add(0, 100, Audio, 10);
    const Record b = ring.Add(0, 200, VideoDelta, 0);
    const Record c = ring.Add(1, 300, Audio, 10);
    const Record d = ring.Add(1, 400, VideoDelta, 10);
    ExpectSameRecords(Play(ring.Save()), {a, b, c, d});
}

TEST(RingFileRead, AMissingFileMakesOpeningFail) {
    for (const char* missing : {"ring0.idx", "ring1.idx", "ring0", "ring1"}) {
        HandMadeRing ring;
        ring.Add(0, 0, VideoKey, 10);
        const std::wstring name = ring.Save();
        fs::remove(ring.folder.Path(missing));
        RingFile reader;
        EXPECT_TRUE(reader.OpenForRead(name)) << missing;
        RingPacketHeader header{};
        const uint8_t* payload = nullptr;
        uint32_t size = 0;
        EXPECT_TRUE(reader.ReadNext(header, payload, size)) << missing;
    }
}

TEST(RingFileRead, ATruncatedLastRecordEndsPlayback) {
    for (std::size_t cut : {1u, 10u, 17u, 40u}) {
        HandMadeRing ring;
        const Record first = ring.Add(0, 0, VideoKey, 30);
        const Record second = ring.Add(0, 1500, VideoDelta, 30);
        const Record third = ring.Add(1, 3000, VideoKey, 30);
        const Record fourth = ring.Add(1, 4500, VideoDelta, 30);
        ring.data[1].resize(ring.data[1].size() - cut);
        ExpectSameRecords(Play(ring.Save()), {first, second, third});
    }

    // A starting segment whose last record is cut off still leads on to the next one; the cut-off record is
    // damage there, since the writer finished that segment before it went on.
    HandMadeRing ring;
    const Record first = ring.Add(0, 0, VideoKey, 30);
    ring.Add(0, 1500, VideoDelta, 30);
    const Record third = ring.Add(1, 3000, VideoKey, 30);
    ring.data[0].pop_back();
    ExpectSameRecords(Play(ring.Save()), {first, third});
}

TEST(RingFileRead, IgnoresIndexEntriesThatDoNotPointAtTheirRecord) {
    HandMadeRing ring;
    const Record key = ring.Add(0, 9000, VideoKey, 40);
    const Record delta = ring.Add(0, 10500, VideoDelta, 40);
    // A record whose size field runs far past the end, with a matching index entry.
    const uint64_t hugeAt = ring.data[0].size();
    const RingPacketHeader huge{100, 0, 0xFFFFFFF0u, VideoKey};
    AppendHeader(ring.data[0], huge);
    ring.data[0].resize(ring.data[0].size() + 8);
    AppendIndexEntry(ring.index[0], hugeAt, huge);

    const uint64_t size = ring.data[0].size();
    RingPacketHeader early = key.header;
    early.timestamp = 1;
    AppendIndexEntry(ring.index[0], size + 100, early);             // past the end
    AppendIndexEntry(ring.index[0], size - 8, {2, 0, 0, VideoKey}); // fewer than 16 bytes left
    AppendIndexEntry(ring.index[0], UINT64_MAX - 3, {3, 0, 0, VideoKey});
    early.timestamp = 4;
    AppendIndexEntry(ring.index[0], 8, early); // inside the key frame's header
    RingPacketHeader wrongCopy = key.header;
    wrongCopy.size = 1;
    AppendIndexEntry(ring.index[0], 0, wrongCopy);
    ring.index[0].insert(ring.index[0].end(), {1, 2, 3, 4, 5, 6, 7}); // a partial entry

    // Playback starts at the only real key frame and stops at the record that does not fit.
    ExpectSameRecords(Play(ring.Save()), {key, delta});
}

TEST(RingFileRead, ReadsNothingBeforeOpeningOrAfterClosing) {
    HandMadeRing ring;
    ring.Add(0, 0, VideoKey, 10);
    const std::wstring name = ring.Save();
    RingFile reader;
    RingPacketHeader header{};
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    EXPECT_TRUE(reader.ReadNext(header, payload, size));
    ASSERT_FALSE(reader.OpenForRead(name));
    reader.Close();
    EXPECT_TRUE(reader.ReadNext(header, payload, size));
}

} // namespace
