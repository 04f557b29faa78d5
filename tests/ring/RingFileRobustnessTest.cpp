// Replays rings whose files were damaged at random: truncated, overwritten, given index entries that point
// anywhere. Every record handed out must lie inside its data file's mapping and equal the bytes there.

#include "RingTestSupport.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <random>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr uint64_t Seed = 0x52494e47;
constexpr int Iterations = 2000;

struct RingBytes {
    // Data 0, data 1, index 0, index 1.
    std::array<Bytes, 4> files;
};

const char* const FileNames[4] = {"ring0", "ring1", "ring0.idx", "ring1.idx"};

RingBytes RecordSampleRing(const TempDirectory& folder, std::mt19937_64& random) {
    RingFile ring;
    EXPECT_TRUE(ring.OpenForWrite(folder.Wide("ring"), 1));
    std::uniform_int_distribution<uint32_t> size(0, 200);
    for (uint32_t frame = 0; frame < 200; ++frame) {
        const bool key = frame % 20 == 0;
        PutPacket(ring, frame * 1500, key ? VideoKey : VideoDelta, size(random));
        if (frame % 4 != 0) {
            PutPacket(ring, frame * 1500 + 700, Audio, size(random) / 4);
        }
    }
    ring.Close();
    RingBytes bytes;
    for (int i = 0; i < 4; ++i) {
        bytes.files[i] = ReadBytes(folder.Path(FileNames[i]));
    }
    return bytes;
}

// Offsets where records begin, walking from the start until the first record that does not fit.
std::vector<uint64_t> RecordOffsets(const Bytes& data) {
    std::vector<uint64_t> offsets;
    uint64_t offset = 0;
    while (data.size() - offset >= sizeof(RingPacketHeader)) {
        uint32_t size;
        std::memcpy(&size, data.data() + offset + 8, sizeof size);
        if (size > data.size() - offset - sizeof(RingPacketHeader)) {
            break;
        }
        offsets.push_back(offset);
        offset += sizeof(RingPacketHeader) + size;
    }
    return offsets;
}

class Damage {
public:
    explicit Damage(std::mt19937_64& random) : m_random(random) {}

    void Apply(RingBytes& ring) {
        const int count = Pick(1, 4);
        for (int i = 0; i < count; ++i) {
            switch (Pick(0, 6)) {
            case 0:
                Truncate(ring.files[Pick(0, 3)]);
                break;
            case 1:
                Scribble(ring.files[Pick(0, 3)]);
                break;
            case 2:
                BreakSizeField(ring.files[Pick(0, 1)]);
                break;
            case 3:
                AddIndexEntry(ring, static_cast<unsigned>(Pick(0, 1)));
                break;
            case 4:
                AppendJunk(ring.files[Pick(2, 3)]);
                break;
            case 5:
                ring.files[Pick(0, 3)] = RandomBytes(static_cast<std::size_t>(Pick(0, 600)));
                break;
            default:
                std::swap(ring.files[2], ring.files[3]);
                break;
            }
        }
    }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }
    uint64_t Any() { return m_random(); }

    Bytes RandomBytes(std::size_t size) {
        Bytes bytes(size);
        for (uint8_t& byte : bytes) {
            byte = static_cast<uint8_t>(Any());
        }
        return bytes;
    }

    void Truncate(Bytes& file) { file.resize(file.empty() ? 0 : Any() % (file.size() + 1)); }

    void Scribble(Bytes& file) {
        for (int i = Pick(1, 8); i > 0 && !file.empty(); --i) {
            file[Any() % file.size()] = static_cast<uint8_t>(Any());
        }
    }

    void BreakSizeField(Bytes& data) {
        const std::vector<uint64_t> offsets = RecordOffsets(data);
        if (offsets.empty()) {
            return;
        }
        const uint64_t offset = offsets[Any() % offsets.size()];
        const uint64_t left = data.size() - offset - sizeof(RingPacketHeader);
        const uint32_t sizes[] = {0xFFFFFFFFu, 0x80000000u, static_cast<uint32_t>(left + 1),
                                  static_cast<uint32_t>(Any())};
        const uint32_t size = sizes[Pick(0, 3)];
        std::memcpy(data.data() + offset + 8, &size, sizeof size);
    }

    // An entry whose offset lies near the interesting edges and whose header often copies the bytes there,
    // so that it passes a plain comparison with the data.
    void AddIndexEntry(RingBytes& ring, unsigned segment) {
        const Bytes& data = ring.files[segment];
        const std::vector<uint64_t> offsets = RecordOffsets(data);
        const uint64_t boundary = offsets.empty() ? 0 : offsets[Any() % offsets.size()];
        const uint64_t candidates[] = {Any(),
                                       data.size(),
                                       data.size() - std::min<uint64_t>(data.size(), Any() % 17),
                                       boundary + 1 + Any() % 15,
                                       UINT64_MAX - Any() % 33,
                                       boundary};
        const uint64_t offset = candidates[Pick(0, 5)];
        RingPacketHeader header{static_cast<uint32_t>(Any()), 0, static_cast<uint32_t>(Any()), VideoKey};
        if (offset <= data.size() && data.size() - offset >= sizeof header && Pick(0, 3) != 0) {
            std::memcpy(&header, data.data() + offset, sizeof header);
        }
        if (Pick(0, 1) == 0) {
            header.timestamp = 0; // becomes the starting point when accepted
        }
        Bytes& index = ring.files[2 + segment];
        const std::size_t at = static_cast<std::size_t>(Any() % (index.size() / sizeof(RingIndexEntry) + 1));
        Bytes entry;
        AppendIndexEntry(entry, offset, header);
        index.insert(index.begin() + static_cast<std::ptrdiff_t>(at * sizeof(RingIndexEntry)), entry.begin(),
                     entry.end());
    }

    void AppendJunk(Bytes& index) {
        const Bytes junk = RandomBytes(static_cast<std::size_t>(Pick(1, 23)));
        index.insert(index.end(), junk.begin(), junk.end());
    }

    std::mt19937_64& m_random;
};

struct Mapped {
    uintptr_t start = 0;
    const Bytes* bytes = nullptr;
};

// Where the reader's views of the two data files lie, from the kernel's list of this process's mappings.
std::vector<Mapped> DataViews(const std::array<std::string, 2>& paths, const RingBytes& ring) {
    std::string maps;
    const int file = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    char chunk[65536];
    for (ssize_t count; file >= 0 && (count = ::read(file, chunk, sizeof chunk)) > 0;) {
        maps.append(chunk, static_cast<std::size_t>(count));
    }
    if (file >= 0) {
        ::close(file);
    }
    std::vector<Mapped> views;
    for (unsigned segment = 0; segment < 2; ++segment) {
        const std::string ending = " " + paths[segment] + "\n";
        for (std::size_t at = maps.find(ending); at != std::string::npos; at = maps.find(ending, at + 1)) {
            const std::size_t line = maps.rfind('\n', at);
            uintptr_t start = 0;
            std::sscanf(maps.c_str() + (line == std::string::npos ? 0 : line + 1), "%" SCNxPTR, &start);
            views.push_back({start, &ring.files[segment]});
        }
    }
    return views;
}

// Returns an error text for the first record that is not a record of a mapped data file.
std::optional<std::string> CheckPlayback(RingFile& reader, const std::vector<Mapped>& views,
                                         std::size_t limit) {
    RingPacketHeader header{};
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    std::size_t count = 0;
    while (!reader.ReadNext(header, payload, size)) {
        if (++count > limit) {
            return "playback does not end";
        }
        const auto at = reinterpret_cast<uintptr_t>(payload);
        const Mapped* view = nullptr;
        for (const Mapped& candidate : views) {
            const uintptr_t end = candidate.start + candidate.bytes->size();
            if (at >= candidate.start + sizeof header && at <= end && size <= end - at) {
                view = &candidate;
            }
        }
        if (view == nullptr) {
            return "record " + std::to_string(count) + " lies outside the data views";
        }
        const uint8_t* record = view->bytes->data() + (at - view->start) - sizeof header;
        if (std::memcmp(record, &header, sizeof header) != 0 || header.size != size ||
            std::memcmp(record + sizeof header, payload, size) != 0) {
            return "record " + std::to_string(count) + " differs from the file";
        }
    }
    return std::nullopt;
}

TEST(RingFileRobustness, DamagedFilesNeverLeadOutsideTheMappedRecords) {
    std::mt19937_64 random(Seed);
    TempDirectory folder;
    const fs::path canonical = fs::canonical(folder.Path(""));
    const std::array<std::string, 2> dataPaths = {(canonical / FileNames[0]).string(),
                                                  (canonical / FileNames[1]).string()};
    const RingBytes intact = RecordSampleRing(folder, random);
    ASSERT_FALSE(intact.files[1].empty()) << "the sample ring must use both segments";
    Damage damage(random);

    RingBytes onDisk = intact;
    for (int iteration = 0; iteration < Iterations; ++iteration) {
        RingBytes ring = intact;
        damage.Apply(ring);
        for (int i = 0; i < 4; ++i) {
            if (ring.files[i] != onDisk.files[i]) {
                WriteBytes(folder.Path(FileNames[i]), ring.files[i]);
            }
        }
        onDisk = ring;
        RingFile reader;
        ASSERT_FALSE(reader.OpenForRead(folder.Wide("ring"))) << "iteration " << iteration;
        const std::size_t limit =
            (ring.files[0].size() + ring.files[1].size()) / sizeof(RingPacketHeader) + 1;
        const std::optional<std::string> error = CheckPlayback(reader, DataViews(dataPaths, ring), limit);
        ASSERT_FALSE(error) << *error << " in iteration " << iteration;
    }
}

} // namespace
