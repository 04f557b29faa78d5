#include "app/RecordingMetadata.h"
#include "TempDirectory.h"
#include "app/CaptureLog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

RecordingMetadata Saved() {
    RecordingMetadata metadata;
    metadata.recorderVersion = "0.1.0";
    metadata.pid = 4321;
    metadata.saveReason = "event";
    metadata.firstPicture = MetadataTime{5'000'000'000, 1'765'283'255'123};
    metadata.lastPicture = MetadataTime{9'500'000'000, 1'765'283'259'623};
    metadata.captures.push_back(
        {false, 0, {4'000'000'000, 1'765'283'254'123}, {6'000'000'000, 1'765'283'256'123}});
    metadata.captures.push_back(
        {true, 0x200000, {6'000'000'000, 1'765'283'256'123}, {9'500'000'000, 1'765'283'259'623}});
    metadata.width = 320;
    metadata.height = 240;
    metadata.videoEncoder = MetadataEncoder{"libx264", false};
    metadata.audioEncoder = MetadataEncoder{"aac", false};
    metadata.framesRepeated = 12;
    metadata.framesDropped = 1;
    metadata.result = "saved";
    return metadata;
}

// The documented schema, field by field and in order.
TEST(RecordingMetadataTest, TheFileFollowsTheSchemaAndReplacesAnOlderOneWhole) {
    const TempDirectory dir;
    const std::wstring name = dir.Wide("report");
    const fs::path path = dir.Path("report.json");
    // A link where an older file was: replaced, not written through.
    std::ofstream(dir.Path("elsewhere")) << "keep";
    fs::create_symlink(dir.Path("elsewhere"), path);

    WriteRecordingMetadata(name, Saved());
    EXPECT_EQ(
        Read(path),
        "{\n"
        "  \"format_version\": 1,\n"
        "  \"recorder_version\": \"0.1.0\",\n"
        "  \"pid\": 4321,\n"
        "  \"save_reason\": \"event\",\n"
        "  \"first_picture\": {\"utc\": \"2025-12-09T12:27:35.123Z\", \"monotonic_ns\": 5000000000},\n"
        "  \"last_picture\": {\"utc\": \"2025-12-09T12:27:39.623Z\", \"monotonic_ns\": 9500000000},\n"
        "  \"captures\": [\n"
        "    {\"kind\": \"monitor\", \"window_id\": 0, \"start\": {\"utc\": \"2025-12-09T12:27:34.123Z\", "
        "\"monotonic_ns\": 4000000000}, \"end\": {\"utc\": \"2025-12-09T12:27:36.123Z\", \"monotonic_ns\": "
        "6000000000}},\n"
        "    {\"kind\": \"window\", \"window_id\": 2097152, \"start\": {\"utc\": "
        "\"2025-12-09T12:27:36.123Z\", "
        "\"monotonic_ns\": 6000000000}, \"end\": {\"utc\": \"2025-12-09T12:27:39.623Z\", \"monotonic_ns\": "
        "9500000000}}\n"
        "  ],\n"
        "  \"frame_size\": {\"width\": 320, \"height\": 240},\n"
        "  \"video_encoder\": {\"name\": \"libx264\", \"hardware\": false},\n"
        "  \"audio_encoder\": {\"name\": \"aac\", \"hardware\": false},\n"
        "  \"frames_repeated\": 12,\n"
        "  \"frames_dropped\": 1,\n"
        "  \"result\": \"saved\",\n"
        "  \"error\": null\n"
        "}\n");
    EXPECT_EQ(Read(dir.Path("elsewhere")), "keep");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path("")), fs::directory_iterator()), 2);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // Nothing recorded: no pictures, no captures, no encoders; an error text is escaped.
    RecordingMetadata failed;
    failed.saveReason = "process exit";
    failed.result = "failed";
    failed.error = "unable to write \"/x\"\n\ttab\\";
    const std::string text = FormatRecordingMetadata(failed);
    EXPECT_NE(text.find("\"first_picture\": null,\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"captures\": [],\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"video_encoder\": null,\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"error\": \"unable to write \\\"/x\\\"\\u000a\\u0009tab\\\\\"\n"),
              std::string::npos)
        << text;

    // A folder that cannot be written: named in the error, nothing left behind.
    EXPECT_THROW(WriteRecordingMetadata(dir.Wide("missing/report"), failed), std::runtime_error);
}

TEST(RecordingMetadataTest, ACaptureClockReadingIsPlacedOnTheWallClock) {
    const auto now = pyx::CaptureClock::now();
    const auto utcNow = std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
    const MetadataTime earlier = MetadataTimeOf(now - std::chrono::seconds(3));
    EXPECT_EQ(earlier.monotonicNs, (now - std::chrono::seconds(3)).time_since_epoch().count());
    EXPECT_NEAR(double(earlier.utcMs), double(utcNow.time_since_epoch().count() - 3000), 50.0);
}

// Three captures, the ring's 32-bit timeline wrapping inside the second; the MP4 starts inside the second
// capture, so the first is not in it and the second is cut to the MP4's first picture, and to the start of
// the third, which began before the second's last packet ended.
TEST(RecordingMetadataTest, TheCaptureLogPlacesTheMp4sPicturesOnTheCaptureClock) {
    constexpr std::uint32_t Second = 90'000;
    constexpr std::int64_t Ns = 1'000'000'000;
    const auto report = [](std::uint32_t ringTime, std::int64_t captureNs, const char* encoder,
                           std::uint64_t repeated) {
        CaptureReport captured;
        captured.anchor = RingClockAnchor{ringTime, captureNs};
        captured.videoEncoder = {encoder, false};
        captured.framesRepeated = repeated;
        captured.framesDropped = 1;
        return captured;
    };
    const std::uint32_t wrap = 0xFFFFFFFFu - Second; // one second before the wrap
    CaptureLog log;
    log.Add(reinterpret_cast<HWND>(0x400000), report(wrap - 4 * Second, 100 * Ns, "first", 5),
            wrap - 2 * Second);
    log.Add(nullptr, CaptureReport{}, wrap); // wrote nothing
    log.Add(nullptr, report(wrap - 2 * Second, 110 * Ns, "monitor", 7),
            wrap + 2 * Second); // 2 s past the wrap
    log.Add(reinterpret_cast<HWND>(0x400000), report(wrap + 2 * Second, 113'950'000'000, "last", 11),
            wrap + 5 * Second);

    RecordingMetadata metadata;
    log.Describe({wrap - Second, wrap + 4 * Second}, metadata);
    ASSERT_TRUE(metadata.firstPicture && metadata.lastPicture);
    EXPECT_EQ(metadata.firstPicture->monotonicNs, 111 * Ns);
    EXPECT_EQ(metadata.lastPicture->monotonicNs, 115'950'000'000);
    ASSERT_EQ(metadata.captures.size(), 2u);
    EXPECT_FALSE(metadata.captures[0].window);
    EXPECT_EQ(metadata.captures[0].start.monotonicNs, 111 * Ns);
    EXPECT_EQ(metadata.captures[0].end.monotonicNs, 113'950'000'000);
    EXPECT_TRUE(metadata.captures[1].window);
    EXPECT_EQ(metadata.captures[1].windowId, 0x400000u);
    EXPECT_EQ(metadata.captures[1].start.monotonicNs, 113'950'000'000);
    EXPECT_EQ(metadata.captures[1].end.monotonicNs, 115'950'000'000);
    EXPECT_EQ(metadata.framesRepeated, 18u);
    EXPECT_EQ(metadata.framesDropped, 2u);
    ASSERT_TRUE(metadata.videoEncoder);
    EXPECT_EQ(metadata.videoEncoder->name, "last");
    EXPECT_FALSE(metadata.audioEncoder);

    // The clock notes beside the ring tell an export the same, and of a capture still running when the
    // recorder died: its pictures run on from its anchor, with its encoders.
    CaptureReport running = report(wrap + 5 * Second, 116'950'000'000, "running\tname", 0);
    running.audioEncoder = EncoderDescription{"AAC (libavcodec)", true};
    CaptureLog read;
    std::uint32_t pid = 0;
    ASSERT_TRUE(CaptureLog::Parse(log.Format(4321, nullptr, running), read, pid));
    EXPECT_EQ(pid, 4321u);
    RecordingMetadata exported;
    read.Describe({wrap - Second, wrap + 9 * Second}, exported);
    EXPECT_EQ(exported.firstPicture->monotonicNs, metadata.firstPicture->monotonicNs);
    EXPECT_EQ(exported.firstPicture->utcMs, metadata.firstPicture->utcMs);
    EXPECT_EQ(exported.lastPicture->monotonicNs, 120'950'000'000);
    EXPECT_EQ(exported.lastPicture->utcMs - exported.firstPicture->utcMs, 9'950);
    ASSERT_EQ(exported.captures.size(), 3u);
    EXPECT_EQ(exported.captures[1].end.monotonicNs, 116'950'000'000);
    EXPECT_FALSE(exported.captures[2].window);
    EXPECT_EQ(exported.captures[2].end.monotonicNs, 120'950'000'000);
    EXPECT_EQ(exported.videoEncoder->name, "running name");
    ASSERT_TRUE(exported.audioEncoder);
    EXPECT_TRUE(exported.audioEncoder->hardware);
    // Anything else is not taken for notes.
    for (const char* text : {"", "pyx-video clock notes 1\npid\t1\ncapture\t1\t2\n", "{}\n"})
        EXPECT_FALSE(CaptureLog::Parse(text, read, pid)) << text;
}

} // namespace
