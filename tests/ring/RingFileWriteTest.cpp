#include "RingTestSupport.h"

#include "ring/RingPaths.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

constexpr uint32_t Second = RingTicksPerSecond;

TEST(RingPaths, SplitTheNameIntoParentStemAndLastExtension) {
    EXPECT_EQ(RingDataPath(L"crash-report", 0), fs::path("crash-report0"));
    EXPECT_EQ(RingIndexPath(L"crash-report", 1), fs::path("crash-report1.idx"));
    EXPECT_EQ(RingDataPath(L"out/clip.bin", 0), fs::path("out/clip0.bin"));
    EXPECT_EQ(RingIndexPath(L"out/clip.bin", 0), fs::path("out/clip0.idx"));
    EXPECT_EQ(RingDataPath(L"a.tar.gz", 1), fs::path("a.tar1.gz"));
    EXPECT_EQ(RingDataPath(L"dir/.hidden", 1), fs::path("dir/.hidden1"));
    EXPECT_EQ(RingIndexPath(L"dir/.hidden", 1), fs::path("dir/.hidden1.idx"));
    EXPECT_EQ(RingDataPath(L"caf\u00e9.bin", 0), fs::path("caf\xc3\xa9"
                                                          "0.bin"));
}

TEST(RingFileOpenForWrite, CreatesFourEmptyPrivateFilesNamedAfterTheExtension) {
    TempDirectory folder;
    // A leftover of an earlier recording is emptied.
    WriteBytes(folder.Path("report1.idx"), Bytes(100, 1));
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(folder.Wide("report.bin"), 10));
    for (const char* file : {"report0.bin", "report0.idx", "report1.bin", "report1.idx"}) {
        struct stat status {};
        ASSERT_EQ(::stat((folder.Path(file)).c_str(), &status), 0) << file;
        EXPECT_EQ(status.st_size, 0) << file;
        if (std::string(file) != "report1.idx") {
            EXPECT_EQ(status.st_mode & 0777, 0600u) << file;
        }
    }
    EXPECT_FALSE(fs::exists(folder.Path("report.bin")));
}

// Links and other users' files at the ring's paths are replaced by new files, never written through.
TEST(RingFileOpenForWrite, ReplacesLinksAndKeepsWhatTheyPointAt) {
    TempDirectory folder;
    const fs::path target = folder.Path("precious");
    WriteBytes(target, Bytes{1, 2, 3});
    fs::create_symlink(target, folder.Path("ring0.idx"));
    fs::create_hard_link(target, folder.Path("ring1"));
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(folder.Wide("ring"), 10));
    const Bytes payload(100, 0x55);
    ASSERT_EQ(ring.Write({0, 10, 100, RingFlagKeyFrame}, payload.data(), 100), 0);
    ring.Close();
    EXPECT_EQ(ReadBytes(target), (Bytes{1, 2, 3}));
    EXPECT_EQ(fs::hard_link_count(target), 1u);
    for (const char* file : {"ring0", "ring0.idx", "ring1", "ring1.idx"}) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder.Path(file)))) << file;
        EXPECT_EQ(fs::status(folder.Path(file)).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write)
            << file;
    }
    EXPECT_EQ(fs::file_size(folder.Path("ring0.idx")), sizeof(RingIndexEntry));
    // Nothing but the ring and the target is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Root()), fs::directory_iterator()), 5);
}

TEST(RingFileOpenForWrite, FailsInAMissingFolder) {
    TempDirectory folder;
    RingFile ring;
    EXPECT_FALSE(ring.OpenForWrite(folder.Wide("missing/ring"), 10));
}

TEST(RingFileWrite, WritesLittleEndianRecordsAndIndexesOnlyVideoKeyFrames) {
    TempDirectory folder;
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(folder.Wide("ring"), 10));
    const std::vector<Record> written = {
        PutPacket(ring, 100, Audio, 5),
        PutPacket(ring, 0x00010203, VideoKey, 7),
        PutPacket(ring, 0x00010204, VideoDelta, 3),
        PutPacket(ring, 0x00010205, Audio | RingFlagKeyFrame, 2),
        PutPacket(ring, 0x00010206, VideoKey, 0),
    };
    ring.Close();

    Bytes data;
    Bytes index;
    for (const Record& record : written) {
        const uint64_t offset = AppendRecord(data, record);
        if (record.header.flags == VideoKey) {
            AppendIndexEntry(index, offset, record.header);
        }
    }
    EXPECT_EQ(ReadBytes(folder.Path("ring0")), data);
    EXPECT_EQ(ReadBytes(folder.Path("ring0.idx")), index);
    EXPECT_EQ(index.size(), 2 * sizeof(RingIndexEntry));
    EXPECT_TRUE(ReadBytes(folder.Path("ring1")).empty());
    EXPECT_TRUE(ReadBytes(folder.Path("ring1.idx")).empty());
}

// 60 frames/s video with a key frame every 2 s, and audio packets of 1024 samples at 48 kHz.
std::vector<Record> RecordMedia(RingFile& ring, uint32_t from, uint32_t to) {
    constexpr uint32_t framePeriod = 1500;
    constexpr uint32_t audioPeriod = 1920;
    std::vector<Record> written;
    uint32_t video = from;
    uint32_t audio = from;
    while (video < to || audio < to) {
        if (video <= audio) {
            const bool key = video % (2 * Second) == 0;
            written.push_back(PutPacket(ring, video, key ? VideoKey : VideoDelta, key ? 900 : 150));
            video += framePeriod;
        } else {
            written.push_back(PutPacket(ring, audio, Audio, 40));
            audio += audioPeriod;
        }
    }
    return written;
}

std::vector<Record> ParseRecords(const Bytes& data) {
    std::vector<Record> records;
    std::size_t offset = 0;
    while (offset + sizeof(RingPacketHeader) <= data.size()) {
        Record record{};
        std::memcpy(&record.header, data.data() + offset, sizeof record.header);
        offset += sizeof record.header;
        record.payload.assign(data.begin() + static_cast<std::ptrdiff_t>(offset),
                              data.begin() + static_cast<std::ptrdiff_t>(offset + record.header.size));
        offset += record.header.size;
        records.push_back(record);
    }
    return records;
}

std::vector<Record> From(const std::vector<Record>& records, uint32_t timestamp, uint32_t flags) {
    for (auto it = records.begin(); it != records.end(); ++it) {
        if (it->header.timestamp == timestamp && it->header.flags == flags) {
            return {it, records.end()};
        }
    }
    return {};
}

void ExpectSegment(const fs::path& data, const fs::path& index, uint32_t firstKey, uint32_t lastKey) {
    const std::vector<Record> records = ParseRecords(ReadBytes(data));
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().header.timestamp, firstKey);
    EXPECT_EQ(records.front().header.flags, VideoKey);
    const uint32_t span = records.back().header.timestamp - firstKey;
    EXPECT_GE(span, 10 * Second);
    EXPECT_LT(span, 12 * Second);

    const Bytes entries = ReadBytes(index);
    ASSERT_EQ(entries.size() % sizeof(RingIndexEntry), 0u);
    std::vector<uint32_t> keys;
    for (std::size_t i = 0; i < entries.size(); i += sizeof(RingIndexEntry)) {
        RingIndexEntry entry;
        std::memcpy(&entry, entries.data() + i, sizeof entry);
        keys.push_back(entry.header.timestamp);
    }
    std::vector<uint32_t> expected;
    for (uint32_t key = firstKey; key <= lastKey; key += 2 * Second) {
        expected.push_back(key);
    }
    EXPECT_EQ(keys, expected);
}

TEST(RingFileWrite, SwitchesAfterTheDurationAtAKeyFrameAndRewritesTheOlderSegment) {
    TempDirectory folder;
    const std::wstring name = folder.Wide("ring");
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(name, 10));
    std::vector<Record> written = RecordMedia(ring, 0, 20 * Second);

    {
        // A reader may look at the ring while it is written: segment 0 up to the switch at 12 s, then 1.
        RingFile early;
        ASSERT_FALSE(early.OpenForRead(name));
        ExpectSameRecords(ReadAll(early), written);
        ExpectSegment(folder.Path("ring0"), folder.Path("ring0.idx"), 0, 10 * Second);
    }

    const std::vector<Record> later = RecordMedia(ring, 20 * Second, 35 * Second);
    written.insert(written.end(), later.begin(), later.end());
    ring.Close();

    // The second switch at 24 s emptied segment 0 before rewriting it.
    ExpectSegment(folder.Path("ring1"), folder.Path("ring1.idx"), 12 * Second, 22 * Second);
    const std::vector<Record> segment0 = ParseRecords(ReadBytes(folder.Path("ring0")));
    ASSERT_FALSE(segment0.empty());
    EXPECT_EQ(segment0.front().header.timestamp, 24 * Second);
    EXPECT_EQ(segment0.front().header.flags, VideoKey);

    RingFile reader;
    ASSERT_FALSE(reader.OpenForRead(name));
    ExpectSameRecords(ReadAll(reader), From(written, 12 * Second, VideoKey));
}

TEST(RingFileWrite, ASegmentThatCannotBeEmptiedIsNotSwitchedTo) {
    TempDirectory folder;
    const std::wstring name = folder.Wide("ring");
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(name, 1));
    PutPacket(ring, 0, VideoKey, 50);
    std::vector<Record> expected = {PutPacket(ring, 135000, VideoKey, 50)};
    {
        // Files mapped in this process cannot be cut, so segment 0 cannot be emptied while it is read.
        RingFile reader;
        ASSERT_FALSE(reader.OpenForRead(name));
        Record blocked = MakeRecord(270000, VideoKey, 50);
        EXPECT_EQ(ring.Write(blocked.header, blocked.payload.data(), 50), RingFile::WriteSwitchFailed);
        expected.push_back(blocked);
    }
    EXPECT_EQ(ParseRecords(ReadBytes(folder.Path("ring1"))).size(), 2u);
    EXPECT_EQ(ReadBytes(folder.Path("ring1.idx")).size(), 2 * sizeof(RingIndexEntry));

    // The next key frame switches, measured from the start of the segment that is still current.
    const Record next = PutPacket(ring, 300000, VideoKey, 50);
    expected.push_back(next);
    ring.Close();
    ExpectSameRecords(ParseRecords(ReadBytes(folder.Path("ring0"))), {next});
    RingFile reader;
    ASSERT_FALSE(reader.OpenForRead(name));
    ExpectSameRecords(ReadAll(reader), expected);
}

TEST(RingFileWrite, AudioGoingOnAfterTheVideoStoppedStillSwitchesSoEverySegmentStaysBounded) {
    TempDirectory folder;
    const std::wstring name = folder.Wide("ring");
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(name, 10));
    std::vector<Record> written = RecordMedia(ring, 0, 13 * Second);
    const auto audioUntil = [&](uint32_t end) {
        for (uint32_t time = written.back().header.timestamp + 1920; time < end; time += 1920)
            written.push_back(PutPacket(ring, time, Audio, 40));
    };
    // Each segment holds at most the duration and one key-frame interval, whether or not video comes.
    const auto expectBounded = [&] {
        for (const char* file : {"ring0", "ring1"}) {
            const std::vector<Record> records = ParseRecords(ReadBytes(folder.Path(file)));
            ASSERT_FALSE(records.empty()) << file;
            const RingPacketHeader& last = records.back().header;
            EXPECT_LE(last.timestamp + last.duration - records.front().header.timestamp,
                      10 * Second + RingFile::KeyFrameIntervalTicks + 1920 + 1500)
                << file;
        }
    };

    // Segment 1 began at the key frame of 12 s; audio alone ends it a key-frame interval after 22 s.
    audioUntil(30 * Second);
    expectBounded();
    const std::vector<Record> segment0 = ParseRecords(ReadBytes(folder.Path("ring0")));
    EXPECT_EQ(segment0.front().header.flags, Audio);
    EXPECT_NEAR(double(segment0.front().header.timestamp), 24.0 * Second, 1920);
    {
        // Playback still starts at the last video key frame and goes on in order.
        RingFile reader;
        ASSERT_FALSE(reader.OpenForRead(name));
        ExpectSameRecords(ReadAll(reader), From(written, 12 * Second, VideoKey));
    }
    audioUntil(70 * Second);
    ring.Close();
    expectBounded();
}

TEST(RingFileWrite, AFirstKeyFrameBeyondTheDurationStartsInSegmentOne) {
    TempDirectory folder;
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(folder.Wide("ring"), 10));
    const Record audio1 = PutPacket(ring, 10 * Second, Audio, 30);
    const Record audio2 = PutPacket(ring, 10 * Second + 1920, Audio, 30);
    const Record key = PutPacket(ring, 10 * Second + 2000, VideoKey, 80);
    const Record delta = PutPacket(ring, 10 * Second + 3500, VideoDelta, 20);
    ring.Close();

    EXPECT_EQ(ParseRecords(ReadBytes(folder.Path("ring0"))).size(), 2u);
    EXPECT_TRUE(ReadBytes(folder.Path("ring0.idx")).empty());
    EXPECT_EQ(ReadBytes(folder.Path("ring1.idx")).size(), sizeof(RingIndexEntry));

    // Segment 1 is played first, then segment 0 from its start; the older audio comes last.
    RingFile reader;
    ASSERT_FALSE(reader.OpenForRead(folder.Wide("ring")));
    ExpectSameRecords(ReadAll(reader), {key, delta, audio1, audio2});
}

TEST(RingFileWrite, ADurationBeyondTheTimelineDoesNotWrapIntoEarlySwitches) {
    TempDirectory folder;
    RingFile ring;
    // 50000 s in ticks exceeds 32 bits; wrapped, the limit would be about 38 minutes.
    ASSERT_TRUE(ring.OpenForWrite(folder.Wide("ring"), 50000));
    PutPacket(ring, 0, VideoKey, 10);
    PutPacket(ring, 3000000000u, VideoKey, 10);
    ring.Close();
    EXPECT_EQ(ParseRecords(ReadBytes(folder.Path("ring0"))).size(), 2u);
    EXPECT_TRUE(ReadBytes(folder.Path("ring1")).empty());
}

TEST(RingFileWrite, RefusesInconsistentPacketsAndWritesWhileClosed) {
    TempDirectory folder;
    RingFile ring;
    const Bytes payload(10, 7);
    EXPECT_EQ(ring.Write({0, 0, 10, VideoKey}, payload.data(), 10), 1);

    ASSERT_TRUE(ring.OpenForWrite(folder.Wide("ring"), 10));
    const Record first = PutPacket(ring, 0, VideoKey, 10);
    EXPECT_EQ(ring.Write({1500, 0, 11, VideoKey}, payload.data(), 10), 1);
    EXPECT_EQ(ring.Write({1500, 0, 10, VideoKey}, nullptr, 10), 1);
    const Record second = PutPacket(ring, 3000, VideoDelta, 4);
    ring.Close();
    EXPECT_EQ(ring.Write(first.header, first.payload.data(), 10), 1);

    RingFile reader;
    ASSERT_FALSE(reader.OpenForRead(folder.Wide("ring")));
    ExpectSameRecords(ReadAll(reader), {first, second});
}

// Makes writes past `bytes` fail with EFBIG instead of a signal, for the lifetime of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

TEST(RingFileWrite, AFailedWriteCutsThePartialRecordAndItsIndexEntry) {
    TempDirectory folder;
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(folder.Wide("ring"), 10));
    const Record key = PutPacket(ring, 0, VideoKey, 100);
    const Record delta = PutPacket(ring, 1500, VideoDelta, 100);
    const Bytes big(400, 9);
    {
        FileSizeLimit limit(300);
        EXPECT_EQ(ring.Write({3000, 1500, 400, VideoKey}, big.data(), 400), 1);
    }
    EXPECT_EQ(fs::file_size(folder.Path("ring0")), 232u);
    EXPECT_EQ(fs::file_size(folder.Path("ring0.idx")), sizeof(RingIndexEntry));

    const Record next = PutPacket(ring, 4500, VideoKey, 8);
    ring.Close();
    Bytes index;
    AppendIndexEntry(index, 0, key.header);
    AppendIndexEntry(index, 232, next.header);
    EXPECT_EQ(ReadBytes(folder.Path("ring0.idx")), index);

    RingFile reader;
    ASSERT_FALSE(reader.OpenForRead(folder.Wide("ring")));
    ExpectSameRecords(ReadAll(reader), {key, delta, next});
}

} // namespace
