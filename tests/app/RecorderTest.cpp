#include "ProcessRunner.h"
#include "TestWindowProcess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "EventDescriptor.h"
#include "TempDirectory.h"

#include "MediaProbe.h"
#include "MetadataSchema.h"

#include <cstdlib>
#include <filesystem>
#include <sys/eventfd.h>
#include <unistd.h>

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

namespace fs = std::filesystem;

// One recorder run against a test window program, started the way a crash reporter starts it.
class RecorderTest : public ::testing::Test {
protected:
    std::string Name() const { return (m_dir / "report").string(); }
    fs::path Output(const std::string& suffix) const { return m_dir / ("report" + suffix); }
    bool RingFilesExist() const {
        for (const char* file : {"report0", "report0.idx", "report1", "report1.idx"})
            if (fs::exists(m_dir / file))
                return true;
        return false;
    }

    void StartRecorder(std::vector<std::string> extra, std::uint32_t pid, const ProcessOptions& base = {}) {
        std::vector<std::string> arguments{
            Binary(),         "--pid=" + std::to_string(pid), "--save-event", m_save.HandleValue(),
            "--cancel-event", m_cancel.HandleValue(),         "--file",       Name()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        ProcessOptions options = base;
        options.inheritedDescriptors = {m_save.Fd(), m_cancel.Fd()};
        m_recorder = std::make_unique<ChildProcess>(arguments, options);
    }

    // On failure the message holds the recorder's log so far.
    ::testing::AssertionResult
    LogShows(const std::string& text, std::chrono::milliseconds timeout = std::chrono::milliseconds(15000)) {
        if (Eventually([&] { return m_recorder->StandardError().find(text) != std::string::npos; }, timeout))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no \"" << text << "\" in the log:\n"
                                             << m_recorder->StandardError();
    }

    ProcessResult Finish() { return m_recorder->Wait(std::chrono::seconds(20)); }

    // NAME.json, checked against the documented schema.
    nlohmann::json Metadata() const {
        const nlohmann::json metadata = ReadMetadata(Output(".json"));
        EXPECT_THAT(MetadataSchemaErrors(metadata), IsEmpty()) << metadata.dump(2);
        return metadata;
    }

    static std::string Hwnd(std::uint32_t window) { return std::to_string(window); }

    virtual std::string Binary() const { return PyxVideoBinary(); }

    TempDirectory m_temp;
    fs::path m_dir = m_temp.Path("");
    EventDescriptor m_save;
    EventDescriptor m_cancel;
    TestWindowProcess m_target;
    std::unique_ptr<ChildProcess> m_recorder;
};

// The same runs with a capture that writes real H.264 and AAC packets into the ring.
class RecorderCaptureTest : public RecorderTest {
protected:
    std::string Binary() const override {
        const char* path = std::getenv("PYX_VIDEO_TEST_CAPTURE_BINARY");
        if (path == nullptr)
            throw std::runtime_error("PYX_VIDEO_TEST_CAPTURE_BINARY is not set");
        return path;
    }
};

double MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Decodes a JPEG with Debian's ffmpeg into packed RGB.
std::string DecodeRgb(const fs::path& jpeg) {
    const auto result = RunProcess({"/usr/bin/ffmpeg", "-loglevel", "error", "-i", jpeg.string(), "-f",
                                    "rawvideo", "-pix_fmt", "rgb24", "-"});
    return result.exitStatus == 0 ? result.standardOutput : std::string();
}

void ExpectColourNear(const std::string& rgb, int width, int x, int y, int r, int g, int b) {
    const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
    ASSERT_LT(at + 2, rgb.size());
    EXPECT_NEAR(static_cast<unsigned char>(rgb[at]), r, 24) << "at " << x << "," << y;
    EXPECT_NEAR(static_cast<unsigned char>(rgb[at + 1]), g, 24) << "at " << x << "," << y;
    EXPECT_NEAR(static_cast<unsigned char>(rgb[at + 2]), b, 24) << "at " << x << "," << y;
}

TEST_F(RecorderTest, WithoutVideoTheSaveLeavesOnlyTheWindowImage) {
    const std::uint32_t window = m_target.Create("main 320 240 100 100 000000");
    m_target.Command("quadrants main");
    StartRecorder({"--no-video"}, m_target.Pid());
    ASSERT_TRUE(
        LogShows("found window: pid(" + std::to_string(m_target.Pid()) + "), hwnd(" + Hwnd(window) + ")"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    m_save.Signal();
    const auto result = Finish();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_THAT(result.standardError, HasSubstr("INFO     event: save\n"));

    const std::string rgb = DecodeRgb(Output(".jpg"));
    ASSERT_EQ(rgb.size(), 320u * 240u * 3u);
    ExpectColourNear(rgb, 320, 80, 60, 255, 0, 0);
    ExpectColourNear(rgb, 320, 240, 60, 0, 255, 0);
    ExpectColourNear(rgb, 320, 80, 180, 0, 0, 255);
    ExpectColourNear(rgb, 320, 240, 180, 255, 255, 255);
    EXPECT_FALSE(fs::exists(Output(".mp4")));
    EXPECT_FALSE(RingFilesExist());
}

TEST_F(RecorderCaptureTest, TargetExitEndsTheRecordingLikeTheSaveEvent) {
    m_target.Create("main 200 150 50 50 00FF00");
    StartRecorder({}, m_target.Pid());
    ASSERT_TRUE(LogShows("found window"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    m_target.Kill();
    const auto result = Finish();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_THAT(result.standardError, HasSubstr("INFO     event: process closed\n"));
    EXPECT_TRUE(fs::exists(Output(".jpg")));
    EXPECT_TRUE(fs::exists(Output(".mp4")));
    EXPECT_EQ(Metadata()["save_reason"], "process exit");
}

TEST_F(RecorderTest, CancelRemovesTheRingAndWritesNoVideo) {
    m_target.Create("main 200 150 50 50 0000FF");
    StartRecorder({}, m_target.Pid());
    ASSERT_TRUE(LogShows("found window"));
    EXPECT_TRUE(RingFilesExist());
    m_cancel.Signal();
    const auto result = Finish();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_THAT(result.standardError, HasSubstr("INFO     event: cancel\n"));
    EXPECT_FALSE(RingFilesExist());
    EXPECT_FALSE(fs::exists(Output(".mp4")));
}

TEST_F(RecorderTest, NullPidEndsTheRecordingAsInvalid) {
    StartRecorder({}, 0);
    const auto result = Finish();
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_THAT(result.standardError, HasSubstr("ERROR    error: invalid pid\n"));
    EXPECT_FALSE(RingFilesExist());
}

TEST_F(RecorderTest, WithoutDesktopAndWithoutAWindowNothingIsCapturedUntilOneShows) {
    m_target.Create("main 200 150 50 50 FFFF00 hidden");
    StartRecorder({"--no-desktop"}, m_target.Pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_THAT(m_recorder->StandardError(), Not(HasSubstr("capture")));
    m_target.Command("map main");
    ASSERT_TRUE(LogShows("found window"));
    m_cancel.Signal();
    EXPECT_EQ(Finish().exitStatus, 0);
}

TEST_F(RecorderCaptureTest, SignalsActAsTheEventsForAHandStartedRecorder) {
    m_target.Create("main 200 150 50 50 00FFFF");
    m_recorder = std::make_unique<ChildProcess>(
        std::vector<std::string>{Binary(), "--pid=" + std::to_string(m_target.Pid()), "--file", Name()});
    ASSERT_TRUE(LogShows("found window"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    m_recorder->Signal(SIGUSR1);
    auto result = Finish();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_THAT(result.standardError, HasSubstr("INFO     event: save\n"));
    EXPECT_EQ(Metadata()["save_reason"], "signal");

    m_recorder = std::make_unique<ChildProcess>(std::vector<std::string>{
        PyxVideoBinary(), "--pid=" + std::to_string(m_target.Pid()), "--file", Name()});
    ASSERT_TRUE(LogShows("found window"));
    m_recorder->Signal(SIGTERM);
    result = Finish();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_THAT(result.standardError, HasSubstr("INFO     event: cancel\n"));
}

TEST_F(RecorderCaptureTest, TheSaveEventOfACrashReporterProducesThePlayableRecording) {
    const std::uint32_t window = m_target.Create("main 320 240 100 100 000000");
    m_target.Command("animate main");
    StartRecorder({"--duration", "2"}, m_target.Pid());
    ASSERT_TRUE(LogShows("found window"));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const double savedAt = MonotonicNow();
    m_save.Signal();
    const auto result = Finish();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_THAT(result.standardError, Not(HasSubstr("ERROR")));

    const auto streams = ProbeStreams(Output(".mp4"));
    ASSERT_EQ(streams.size(), 2u) << result.standardError;
    EXPECT_EQ(streams[0].at("codec_name"), "h264");
    EXPECT_EQ(streams[1].at("codec_name"), "aac");
    const auto packets = ProbePackets(Output(".mp4"), "v");
    ASSERT_FALSE(packets.empty());
    EXPECT_TRUE(packets.front().keyFrame);
    EXPECT_GT(packets.back().time, 1.5);
    EXPECT_TRUE(fs::exists(Output(".jpg")));
    EXPECT_FALSE(RingFilesExist());

    // The file tells what the MP4 holds: its span of pictures ending at the save, the one window capture,
    // the frame size and the encoders.
    const nlohmann::json metadata = Metadata();
    EXPECT_EQ(metadata["save_reason"], "event");
    EXPECT_EQ(metadata["result"], "saved");
    EXPECT_TRUE(metadata["error"].is_null());
    EXPECT_EQ(metadata["pid"], m_target.Pid());
    EXPECT_EQ(metadata["frame_size"], nlohmann::json({{"width", 320}, {"height", 240}}));
    EXPECT_EQ(metadata["video_encoder"], nlohmann::json({{"name", "libx264"}, {"hardware", false}}));
    EXPECT_EQ(metadata["audio_encoder"], nlohmann::json({{"name", "aac"}, {"hardware", false}}));
    const double last = MonotonicSeconds(metadata["last_picture"]);
    // The capture goes on a moment after the save, so that the picture shown at the save is in the file.
    EXPECT_GT(last, savedAt + 0.1);
    EXPECT_LT(last, savedAt + 0.5);
    EXPECT_NEAR(last - MonotonicSeconds(metadata["first_picture"]),
                packets.back().time - packets.front().time, 0.02);
    ASSERT_EQ(metadata["captures"].size(), 1u);
    EXPECT_EQ(metadata["captures"][0]["kind"], "window");
    EXPECT_EQ(metadata["captures"][0]["window_id"], window);
    EXPECT_EQ(metadata["captures"][0]["start"], metadata["first_picture"]);
    EXPECT_EQ(metadata["captures"][0]["end"], metadata["last_picture"]);
}

// Run with a monitor capture that writes packets, and with one that writes none.
class RecorderTimelineTest : public RecorderCaptureTest, public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(MonitorCapture, RecorderTimelineTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WritesNothing" : "WritesPackets"; });

TEST_P(RecorderTimelineTest, TheTimelineStaysContinuousAcrossAWindowLossAndRestore) {
    const std::uint32_t window = m_target.Create("main 320 240 100 100 000000");
    m_target.Command("animate main");
    ProcessOptions options;
    if (GetParam())
        options.environment["PYX_TEST_CAPTURE_SILENT_MONITOR"] = "1";
    StartRecorder({"--duration", "30"}, m_target.Pid(), options);
    // The log names the window it lost and found again.
    const std::string ids = "pid(" + std::to_string(m_target.Pid()) + "), hwnd(" + Hwnd(window) + ")";
    ASSERT_TRUE(LogShows("found window: " + ids));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    m_target.Command("iconify main");
    ASSERT_TRUE(LogShows("lost window: " + ids));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    m_target.Command("map main");
    m_target.Command("activate main");
    ASSERT_TRUE(Eventually([&] {
        const std::string log = m_recorder->StandardError();
        return log.find("found window: " + ids, log.find("lost window")) != std::string::npos;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    m_save.Signal();
    const auto result = Finish();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;

    // Three captures (window, monitor, window) in one file: times keep rising, never jumping by a GOP. A
    // monitor capture that wrote nothing leaves the second window capture right after the first.
    const auto packets = ProbePackets(Output(".mp4"), "v");
    ASSERT_GT(packets.size(), 180u);
    for (std::size_t i = 1; i < packets.size(); ++i) {
        EXPECT_GT(packets[i].time, packets[i - 1].time) << "packet " << i;
        EXPECT_LT(packets[i].time - packets[i - 1].time, GetParam() ? 0.1 : 2.0) << "packet " << i;
    }
    EXPECT_GT(packets.back().time, GetParam() ? 2.5 : 3.5);

    // NAME.json lists the captures that wrote pictures, one after the other on the capture clock; the pauses
    // between them are not in the MP4, so their spans add up to its span.
    const nlohmann::json metadata = Metadata();
    const nlohmann::json& captures = metadata["captures"];
    ASSERT_EQ(captures.size(), GetParam() ? 2u : 3u) << captures.dump(2);
    double spans = 0;
    for (std::size_t i = 0; i < captures.size(); ++i) {
        const bool monitor = !GetParam() && i == 1;
        EXPECT_EQ(captures[i]["kind"], monitor ? "monitor" : "window") << i;
        EXPECT_EQ(captures[i]["window_id"], monitor ? 0 : window) << i;
        const double start = MonotonicSeconds(captures[i]["start"]);
        const double end = MonotonicSeconds(captures[i]["end"]);
        EXPECT_LT(start, end) << i;
        if (i > 0) {
            EXPECT_LE(MonotonicSeconds(captures[i - 1]["end"]), start) << i;
        }
        spans += end - start;
    }
    EXPECT_EQ(captures.front()["start"], metadata["first_picture"]);
    EXPECT_EQ(captures.back()["end"], metadata["last_picture"]);
    EXPECT_NEAR(spans, packets.back().time - packets.front().time, 0.05);
}

TEST_F(RecorderCaptureTest, AFailedExportKeepsTheRingForRecovery) {
    m_target.Create("main 320 240 100 100 00FF00");
    ProcessOptions options;
    options.environment["PYX_TEST_CAPTURE_VIDEO_TYPE"] = "raw";
    StartRecorder({}, m_target.Pid(), options);
    ASSERT_TRUE(LogShows("found window"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    m_save.Signal();
    const auto result = Finish();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_FALSE(fs::exists(Output(".mp4")));
    EXPECT_TRUE(fs::exists(Output("0")));
    EXPECT_THAT(result.standardError,
                HasSubstr("ERROR    ring file kept for recovery: filename(" + Name() + "0)"));
    const nlohmann::json metadata = Metadata();
    EXPECT_EQ(metadata["result"], "failed");
    EXPECT_THAT(metadata["error"].get<std::string>(), HasSubstr(Output(".mp4").string()));
    EXPECT_TRUE(metadata["first_picture"].is_null());
}

TEST_F(RecorderCaptureTest, AnErrorDuringCaptureStopsItKeepsTheRingAndFails) {
    m_target.Create("main 320 240 100 100 0000FF");
    fs::create_directories(Output(".mp4") / "occupied");
    StartRecorder({}, m_target.Pid());
    ASSERT_TRUE(LogShows("found window"));
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    m_save.Signal();
    const auto result = Finish();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_THAT(result.standardError, HasSubstr("ERROR    error during capture: "));
    EXPECT_TRUE(fs::exists(Output("0")));
    const nlohmann::json metadata = Metadata();
    EXPECT_EQ(metadata["result"], "failed");
    EXPECT_THAT(metadata["error"].get<std::string>(), HasSubstr(Output(".mp4").string()));
}

} // namespace
