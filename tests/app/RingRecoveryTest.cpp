// `pyx-video --export NAME` on ring files made by a writer of the ring format that shares no code with the
// recorder, and on missing and corrupt ring files.

#include "MediaProbe.h"
#include "MetadataSchema.h"
#include "ProcessRunner.h"
#include "TempDirectory.h"
#include "TestEncoders.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutU32(Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void PutU64(Bytes& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The ring format written from scratch: 16-byte little-endian record headers (timestamp, duration in 90 kHz
// ticks, size, flags) before each payload; one 24-byte index entry (offset, header copy) per video key frame.
class RingFormatWriter {
public:
    void Add(unsigned segment, const EncodedPacket& packet) {
        const bool audio = packet.kind == EncodedPacket::Audio;
        const std::uint32_t flags = (audio ? 0x09u : 0u) | (packet.cleanPoint ? 0x10u : 0u);
        Bytes header;
        PutU32(header, std::uint32_t(double(packet.time) * 0.009));
        PutU32(header, std::uint32_t(double(packet.duration) * 0.009));
        PutU32(header, std::uint32_t(packet.data.size()));
        PutU32(header, flags);
        Bytes& data = m_data[segment];
        if (!audio && packet.cleanPoint) {
            PutU64(m_index[segment], data.size());
            m_index[segment].insert(m_index[segment].end(), header.begin(), header.end());
        }
        data.insert(data.end(), header.begin(), header.end());
        data.insert(data.end(), packet.data.begin(), packet.data.end());
        ++m_count[audio ? 1 : 0];
    }

    // NAME "dir/clip" gives dir/clip0, dir/clip0.idx, dir/clip1, dir/clip1.idx.
    void Save(const std::filesystem::path& name) const {
        for (unsigned segment = 0; segment < 2; ++segment) {
            WriteFile(name.string() + std::to_string(segment), m_data[segment]);
            WriteFile(name.string() + std::to_string(segment) + ".idx", m_index[segment]);
        }
    }

    std::size_t VideoCount() const { return m_count[0]; }
    std::size_t AudioCount() const { return m_count[1]; }

private:
    Bytes m_data[2];
    Bytes m_index[2];
    std::size_t m_count[2] = {0, 0};
};

std::vector<std::filesystem::path> RingFiles(const std::filesystem::path& name) {
    return {name.string() + "0", name.string() + "0.idx", name.string() + "1", name.string() + "1.idx"};
}

ProcessResult RunExport(const std::filesystem::path& name) {
    ProcessOptions options;
    // It needs no display.
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    return RunProcess({PyxVideoBinary(), "--export", name.string()}, options);
}

// Two segments as a recorder leaves them: the older one (segment 1, from 0 s) and the newer one (segment 0,
// from 2 s); the recording stops mid-segment.
RingFormatWriter MakeRing(const VideoSettings& video, bool withAudio) {
    RingFormatWriter ring;
    for (const EncodedPacket& packet : EncodeCapture(video, {}, 3.0)) {
        if (packet.kind == EncodedPacket::Audio && !withAudio)
            continue;
        ring.Add(packet.time < 20'000'000 ? 1 : 0, packet);
    }
    return ring;
}

class RingRecovery : public ::testing::Test {
protected:
    TempDirectory m_folder;
    std::filesystem::path m_name = m_folder.Path("report");
};

TEST_F(RingRecovery, ExportsTheRingIntoNameMp4AndRemovesTheRingFiles) {
    const RingFormatWriter ring = MakeRing({"libx264", 320, 180, 60, 120, 0}, true);
    ring.Save(m_name);
    const ProcessResult result = RunExport(m_name);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_NE(result.standardOutput.find("report.mp4"), std::string::npos) << result.standardOutput;

    const auto streams = ProbeStreams(m_folder.Path("report.mp4"));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), "h264");
    EXPECT_EQ(streams[0].at("width"), "320");
    EXPECT_EQ(streams[0].at("height"), "180");
    EXPECT_EQ(std::stoul(streams[0].at("nb_read_packets")), ring.VideoCount());
    EXPECT_EQ(streams[1].at("codec_name"), "aac");
    EXPECT_EQ(streams[1].at("sample_rate"), "48000");
    EXPECT_EQ(streams[1].at("channels"), "2");
    const auto video = ProbePackets(m_folder.Path("report.mp4"), "v");
    ASSERT_FALSE(video.empty());
    EXPECT_TRUE(video.front().keyFrame);
    // The whole recording plays, older segment first: the first frame of the MP4 is the first one recorded.
    const auto frames = DecodeEveryNthFrame(m_folder.Path("report.mp4"), 320, 180, 1000);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_GT(Psnr(frames[0], MakePatternFrame(0, 320, 180)), 35.0);

    for (const auto& file : RingFiles(m_name))
        EXPECT_FALSE(std::filesystem::exists(file)) << file;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("report.export.mp4")));

    // Without the recorder's clock notes NAME.json says what an export can know from the ring alone.
    const nlohmann::json metadata = ReadMetadata(m_folder.Path("report.json"));
    EXPECT_THAT(MetadataSchemaErrors(metadata), ::testing::IsEmpty()) << metadata.dump(2);
    EXPECT_EQ(metadata["save_reason"], "export");
    EXPECT_EQ(metadata["result"], "saved");
    EXPECT_EQ(metadata["frame_size"], nlohmann::json({{"width", 320}, {"height", 180}}));
    EXPECT_TRUE(metadata["first_picture"].is_null());
}

// A recorder that dies keeps clock notes beside its ring (NAME.clk: a header line, the pid, then one line of
// tab-separated fields per capture), from which the export's NAME.json gets the times a save's would have.
TEST_F(RingRecovery, TheRecordersClockNotesGiveNameJsonThePicturesTimes) {
    MakeRing({"libx264", 320, 180, 60, 120, 0}, true).Save(m_name);
    const std::string notes = "pyx-video clock notes 1\npid\t4242\n"
                              // the monitor from ring time 0, captured at 5 s on the clock, 11:33:20 UTC
                              "capture\t0\t0\t5000000000\t1765280000000\trunning\t3\t1\t"
                              "H.264 Encoder (libx264)\t0\tAAC Encoder (libavcodec)\t0\n";
    WriteFile(m_folder.Path("report.clk"), Bytes(notes.begin(), notes.end()));
    const ProcessResult result = RunExport(m_name);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("report.clk")));

    const nlohmann::json metadata = ReadMetadata(m_folder.Path("report.json"));
    EXPECT_THAT(MetadataSchemaErrors(metadata), ::testing::IsEmpty()) << metadata.dump(2);
    EXPECT_EQ(metadata["pid"], 4242);
    EXPECT_EQ(metadata["first_picture"],
              nlohmann::json({{"utc", "2025-12-09T11:33:20.000Z"}, {"monotonic_ns", 5'000'000'000}}));
    // The last of 3 s of pictures at 60 per second.
    const std::int64_t last = metadata["last_picture"]["monotonic_ns"];
    EXPECT_NEAR(double(last), 7'983'333'333.0, 20'000.0);
    ASSERT_EQ(metadata["captures"].size(), 1u);
    EXPECT_EQ(metadata["captures"][0]["kind"], "monitor");
    EXPECT_EQ(metadata["captures"][0]["end"]["monotonic_ns"], last);
    EXPECT_EQ(metadata["video_encoder"]["name"], "H.264 Encoder (libx264)");
    EXPECT_EQ(metadata["frames_repeated"], 3);

    // Notes that are not the recorder's are passed over with a warning; the export still goes ahead.
    MakeRing({"libx264", 320, 180, 60, 120, 0}, true).Save(m_name);
    WriteFile(m_folder.Path("report.clk"), {'{', '}'});
    const ProcessResult withBadNotes = RunExport(m_name);
    ASSERT_EQ(withBadNotes.exitStatus, 0) << withBadNotes.standardError;
    EXPECT_NE(withBadNotes.standardError.find("report.clk are not clock notes"), std::string::npos)
        << withBadNotes.standardError;
    EXPECT_TRUE(ReadMetadata(m_folder.Path("report.json"))["first_picture"].is_null());
}

// Every file an export makes beside NAME fits wherever the ring's own names fit: the longest NAME whose index
// files can exist (250 bytes, for 255-byte file names) still exports.
TEST_F(RingRecovery, TheLongestNameWhoseRingCanExistExports) {
    for (const std::size_t length : {247u, 250u}) {
        const std::filesystem::path name = m_folder.Path(std::string(length, 'n'));
        MakeRing({"libx264", 320, 180, 60, 120, 0}, true).Save(name);
        const ProcessResult result = RunExport(name);
        EXPECT_EQ(result.exitStatus, 0) << length << ": " << result.standardError;
        EXPECT_TRUE(std::filesystem::exists(name.string() + ".mp4")) << length;
    }
}

TEST_F(RingRecovery, RebuildsHevcStreamsAndLeavesOutAnAbsentAudioStream) {
    const RingFormatWriter ring = MakeRing({"libx265", 320, 180, 60, 120, 0}, false);
    ring.Save(m_name);
    const ProcessResult result = RunExport(m_name);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const auto streams = ProbeStreams(m_folder.Path("report.mp4"));
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("codec_name"), "hevc");
    EXPECT_EQ(streams[0].at("width"), "320");
    EXPECT_EQ(streams[0].at("height"), "180");
    EXPECT_EQ(std::stoul(streams[0].at("nb_read_packets")), ring.VideoCount());
}

TEST_F(RingRecovery, MissingRingFilesFailWithoutWritingAnything) {
    const ProcessResult result = RunExport(m_name);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find("unable to read the ring files"), std::string::npos)
        << result.standardError;
    EXPECT_TRUE(std::filesystem::is_empty(m_folder.Path("")));
}

TEST_F(RingRecovery, CorruptRingFilesFailAndAreKeptAsTheyWere) {
    MakeRing({"libx264", 320, 180, 60, 120, 0}, true).Save(m_name);
    // The recording's video is unreadable (every payload byte flipped), and an older export sits beside it.
    Bytes data = ReadFile(m_name.string() + "1");
    for (std::size_t i = 16; i < data.size(); ++i)
        data[i] ^= 0xFF;
    WriteFile(m_name.string() + "1", data);
    Bytes other = ReadFile(m_name.string() + "0");
    for (std::size_t i = 16; i < other.size(); ++i)
        other[i] ^= 0xFF;
    WriteFile(m_name.string() + "0", other);
    WriteFile(m_folder.Path("report.mp4"), {'o', 'l', 'd'});
    std::vector<Bytes> before;
    for (const auto& file : RingFiles(m_name))
        before.push_back(ReadFile(file));

    const ProcessResult result = RunExport(m_name);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find("report"), std::string::npos) << result.standardError;
    const auto files = RingFiles(m_name);
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(ReadFile(files[i]), before[i]) << files[i];
    EXPECT_EQ(ReadFile(m_folder.Path("report.mp4")), (Bytes{'o', 'l', 'd'}));
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("report.export.mp4")));
}

TEST_F(RingRecovery, IndexesThatPointNowhereFailCleanly) {
    MakeRing({"libx264", 320, 180, 60, 120, 0}, true).Save(m_name);
    Bytes index;
    PutU64(index, 1u << 30);
    for (int i = 0; i < 16; ++i)
        index.push_back(0x10);
    WriteFile(m_name.string() + "0", {});
    WriteFile(m_name.string() + "1", {1, 2, 3});
    WriteFile(m_name.string() + "0.idx", index);
    WriteFile(m_name.string() + "1.idx", index);
    const ProcessResult result = RunExport(m_name);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_FALSE(result.standardError.empty());
    for (const auto& file : RingFiles(m_name))
        EXPECT_TRUE(std::filesystem::exists(file)) << file;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("report.mp4")));
}

TEST_F(RingRecovery, WithoutANameItPrintsHowToCallIt) {
    const ProcessResult result = RunProcess({PyxVideoBinary(), "--export"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.standardError.find("usage: pyx-video --export NAME"), std::string::npos);
}

} // namespace
