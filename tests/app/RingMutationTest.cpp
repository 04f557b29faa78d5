// `pyx-video --export NAME` over a few hundred damaged copies of a real recording's ring: it never crashes or
// hangs, a ring is removed only after a clean export, and the good NAME.mp4 of an earlier export is never
// replaced by what a damaged ring gives.

#include "app/ExitStatus.h"
#include "app/RingRecovery.h"
#include "ring/RingPaths.h"

#include "CaptureRing.h"
#include "StderrCapture.h"
#include "TempDirectory.h"
#include "TestEncoders.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::error_code ignored;
    fs::remove(path, ignored);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// One damage of the kinds a disk, a copy or a hostile hand makes: a header field set to an extreme or random
// value, bytes flipped, a file cut short, bytes dropped or inserted.
// `fields` are the offsets of the header fields in the undamaged file.
void Mutate(Bytes& bytes, std::mt19937& random, const std::vector<std::size_t>& fields) {
    if (bytes.empty()) {
        bytes.resize(random() % 64, static_cast<std::uint8_t>(random()));
        return;
    }
    const auto at = [&] {
        return static_cast<std::size_t>(random() % bytes.size());
    };
    constexpr std::uint32_t Extremes[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0u, 1u, 0x10u, 0x19u};
    switch (random() % 6) {
    case 0: {
        const std::size_t spot = fields.empty() ? at() : fields[random() % fields.size()];
        if (spot + 4 <= bytes.size()) {
            const std::uint32_t value = Extremes[random() % std::size(Extremes)];
            std::memcpy(bytes.data() + spot, &value, 4);
        }
        break;
    }
    case 1:
        for (int i = 0, n = 1 + static_cast<int>(random() % 8); i < n; ++i)
            bytes[at()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        break;
    case 2:
        bytes.resize(at());
        break;
    case 3: {
        const std::size_t from = at();
        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                    bytes.begin() +
                        static_cast<std::ptrdiff_t>(std::min(bytes.size(), from + 1 + random() % 40)));
        break;
    }
    case 4:
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at()), 1 + random() % 40,
                     static_cast<std::uint8_t>(random()));
        break;
    default: { // a random run of bytes overwritten
        const std::size_t from = at();
        for (std::size_t i = from; i < std::min(bytes.size(), from + 1 + random() % 64); ++i)
            bytes[i] = static_cast<std::uint8_t>(random());
        break;
    }
    }
}

// Where the u32 fields of a data file's record headers (or an index file's entries) lie.
std::vector<std::size_t> HeaderFields(const Bytes& bytes, bool index) {
    std::vector<std::size_t> fields;
    for (std::size_t at = 0; at + 16 <= bytes.size();) {
        const std::size_t header = index ? at + 8 : at;
        for (std::size_t field = 0; field < 4; ++field)
            fields.push_back(header + 4 * field);
        std::uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 8, 4);
        at += index ? 24 : 16 + std::size_t{size};
    }
    return fields;
}

int Export(const fs::path& name) {
    const std::string nameText = name.string();
    const char* argv[] = {"pyx-video", "--export", nameText.c_str()};
    StderrCapture quiet;
    return RunRingRecovery(3, argv);
}

TEST(RingMutation, DamagedRingsNeverCrashNeverLoseTheRingAndNeverReplaceAGoodExport) {
    TempDirectory folder;
    const fs::path name = folder.Path("report");
    const std::wstring wideName = name.wstring();
    WriteCaptureRing(wideName, 2, EncodeCapture({"libx264", 320, 180, 30, 60, 0}, {}, 6.0));
    std::vector<fs::path> ringFiles;
    std::vector<Bytes> ringBytes;
    std::vector<std::vector<std::size_t>> ringFields;
    for (unsigned segment = 0; segment < RingSegmentCount; ++segment)
        for (const fs::path& path : {RingDataPath(wideName, segment), RingIndexPath(wideName, segment)}) {
            ringFiles.push_back(path);
            ringBytes.push_back(ReadBytes(path));
            ringFields.push_back(HeaderFields(ringBytes.back(), path.extension() == ".idx"));
        }
    const auto restoreRing = [&] {
        for (std::size_t i = 0; i < ringFiles.size(); ++i)
            WriteBytes(ringFiles[i], ringBytes[i]);
    };

    ASSERT_EQ(Export(name), ExitSaved);
    const fs::path mp4 = folder.Path("report.mp4");
    const Bytes good = ReadBytes(mp4);
    ASSERT_FALSE(good.empty());

    std::mt19937 random(20261209);
    int outcomes[256] = {};
    constexpr int Mutations = 300;
    for (int round = 0; round < Mutations; ++round) {
        restoreRing();
        // Mostly one damage, sometimes several, in any of the four files.
        for (int i = 0, n = 1 + static_cast<int>(random() % 4 == 0 ? random() % 4 : 0); i < n; ++i) {
            const std::size_t file = random() % ringFiles.size();
            Bytes bytes = ReadBytes(ringFiles[file]);
            Mutate(bytes, random, ringFields[file]);
            WriteBytes(ringFiles[file], bytes);
        }
        const int status = Export(name);
        ++outcomes[status & 0xFF];
        ASSERT_TRUE(status == ExitSaved || status == ExitPartialExport || status == ExitSaveFailed)
            << "round " << round << ": status " << status;
        if (status == ExitSaved) {
            for (const fs::path& path : ringFiles)
                EXPECT_FALSE(fs::exists(path)) << "round " << round;
            WriteBytes(mp4, good);
            continue;
        }
        for (const fs::path& path : ringFiles)
            ASSERT_TRUE(fs::exists(path))
                << "round " << round << ": " << path << " removed after status " << status;
        ASSERT_EQ(ReadBytes(mp4), good) << "round " << round << ": the good export was replaced";
    }
    // Much of the damage hits payloads, which only a decoder notices; the rest must be noticed.
    EXPECT_GT(outcomes[ExitPartialExport], Mutations / 5)
        << outcomes[ExitSaved] << " clean, " << outcomes[ExitPartialExport] << " partial, "
        << outcomes[ExitSaveFailed] << " failed";
    // Nothing is left behind beside the outputs: no temporary files, no lock file.
    restoreRing();
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.Root()))
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    EXPECT_FALSE(fs::exists(folder.Path("report.lock")));
}

} // namespace
