// The example application under a real display and sound server with the real recorder: it crashes, and the
// recording it asked for in its crash handler holds its last seconds.

#include "MediaProbe.h"
#include "MetadataSchema.h"
#include "ProcessRunner.h"
#include "TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace {

constexpr int Width = 320;
constexpr int Height = 240;
constexpr int Fps = 60;

// The frame number the example draws as 16 squares of 20 pixels along the top edge, white for 1.
unsigned DrawnCounter(const YuvFrame& frame) {
    unsigned counter = 0;
    for (int bit = 0; bit < 16; ++bit)
        if (frame.y[std::size_t(10 * frame.width + bit * 20 + 10)] > 128)
            counter |= 1u << bit;
    return counter;
}

TEST(CrashExampleTest, ItCrashesWithItsSignalAndTheRecordingEndsAtTheCrash) {
    // The recorder outlives the crashed example; as its subreaper this test collects it.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const TempDirectory dir;
    const std::string name = dir.Path("crash").string();
    ProcessOptions options;
    options.environment["PYX_VIDEO_RECORDER"] = PyxVideoBinary();
    options.timeout = std::chrono::seconds(60);
    const ProcessResult result = RunProcess(
        {PYX_CRASH_EXAMPLE_BINARY, "--crash-after", "5", "--duration", "3", "--file", name}, options);
    EXPECT_EQ(result.exitStatus, 128 + SIGSEGV) << result.standardError;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(result.standardError, match,
                                  std::regex("crashed at frame ([0-9]+), monotonic_ns ([0-9]+)\n")))
        << result.standardError;
    const unsigned crashFrame = unsigned(std::stoul(match[1]));
    const double crashTime = double(std::stoull(match[2])) * 1e-9;

    int status = -1;
    ASSERT_TRUE(Eventually(
        [&] {
            const pid_t ended = waitpid(-1, &status, WNOHANG);
            return ended > 0 || (ended < 0 && errno == ECHILD);
        },
        std::chrono::seconds(30)))
        << "the recorder did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const std::vector<ProbedStream> streams = ProbeStreams(name + ".mp4");
    ASSERT_EQ(streams.size(), 2u) << "one video and one audio stream";
    EXPECT_EQ(streams[0].at("width"), std::to_string(Width));
    EXPECT_EQ(streams[0].at("height"), std::to_string(Height));
    const std::vector<YuvFrame> frames = DecodeEveryNthFrame(name + ".mp4", Width, Height, 1);
    ASSERT_FALSE(frames.empty());
    const unsigned first = DrawnCounter(frames.front());
    const unsigned last = DrawnCounter(frames.back());
    // The last picture is the one on screen within half a second of the crash, and seconds of history lead
    // up to it.
    EXPECT_LE(last, crashFrame);
    EXPECT_GE(last + Fps / 2, crashFrame);
    EXPECT_LE(first + 2 * Fps, last);
    EXPECT_TRUE(std::filesystem::exists(name + ".jpg"));

    // NAME.json follows the README's schema, and its pictures bracket the crash: the last one was captured
    // after it, and they are as far apart as the MP4's first and last picture.
    const nlohmann::json metadata = ReadMetadata(name + ".json");
    EXPECT_THAT(MetadataSchemaErrors(metadata), ::testing::IsEmpty()) << metadata.dump(2);
    EXPECT_EQ(metadata["save_reason"], "event");
    EXPECT_EQ(metadata["result"], "saved");
    EXPECT_EQ(metadata["frame_size"], nlohmann::json({{"width", Width}, {"height", Height}}));
    ASSERT_FALSE(metadata["first_picture"].is_null());
    ASSERT_FALSE(metadata["last_picture"].is_null());
    const double firstPicture = MonotonicSeconds(metadata["first_picture"]);
    const double lastPicture = MonotonicSeconds(metadata["last_picture"]);
    EXPECT_LT(firstPicture, crashTime);
    EXPECT_GT(lastPicture, crashTime);
    EXPECT_LT(lastPicture, crashTime + 1.0);
    const std::vector<ProbedPacket> packets = ProbePackets(name + ".mp4", "v");
    ASSERT_FALSE(packets.empty());
    EXPECT_NEAR(lastPicture - firstPicture, packets.back().time - packets.front().time, 0.02);
    ASSERT_FALSE(metadata["captures"].empty());
    EXPECT_EQ(metadata["captures"].back()["kind"], "window");
    EXPECT_NE(metadata["captures"].back()["window_id"], 0);
    EXPECT_EQ(metadata["captures"].back()["end"], metadata["last_picture"]);
    EXPECT_EQ(metadata["captures"].front()["start"], metadata["first_picture"]);
    // The crashed window showed nothing new while its last picture was recorded.
    EXPECT_GT(metadata["frames_repeated"], 0);
    EXPECT_FALSE(metadata["video_encoder"]["name"].get<std::string>().empty());
}

} // namespace
