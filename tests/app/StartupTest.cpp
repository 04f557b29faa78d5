#include "ProcessRunner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using ::testing::ContainsRegex;
using ::testing::EndsWith;
using ::testing::HasSubstr;

namespace {

const std::string Pid = std::to_string(::getpid());

// A target that ends by itself, so that the recording ends as it does when the application exits.
class ShortLivedTarget {
public:
    ShortLivedTarget() : m_process({"/bin/sleep", "0.5"}) {}
    std::string Pid() const { return std::to_string(m_process.Pid()); }

private:
    ChildProcess m_process;
};

// The target shows no window and ends: it is saved as for the save event, with nothing recorded.
TEST(StartupTest, StartLineShowsEffectiveValuesAndTheRunEndsWithNothingRecorded) {
    const ShortLivedTarget target;
    const auto result =
        RunProcess({PyxVideoBinary(), "--pid=" + target.Pid(), "--duration", "0", "--no-desktop"});
    EXPECT_EQ(result.exitStatus, 3) << result.standardError;
    EXPECT_THAT(result.standardError, ContainsRegex("^[0-9/]{8} [0-9:]{8} INFO     pyx-video: pid='" +
                                                    target.Pid() + "' duration='10'  --no-desktop\n"));
    EXPECT_THAT(result.standardError, HasSubstr("INFO     event: process closed\n"));
    EXPECT_EQ(result.standardOutput, "");
}

TEST(StartupTest, WithoutFlagsTheStartLineEndsInTwoBlanks) {
    const ShortLivedTarget target;
    const auto result = RunProcess({PyxVideoBinary(), "--pid", target.Pid(), "--duration=30"});
    // Half a second of the screen may or may not have reached the ring.
    EXPECT_TRUE(result.exitStatus == 0 || result.exitStatus == 3) << result.standardError;
    EXPECT_THAT(result.standardError, HasSubstr("pyx-video: pid='" + target.Pid() + "' duration='30'  \n"));
}

TEST(StartupTest, WithoutADisplayTheCapabilityMessageEndsTheRunWith255) {
    ProcessOptions options;
    options.environment["DISPLAY"] = std::nullopt;
    const auto result = RunProcess({PyxVideoBinary(), "--pid=" + Pid, "--no-video"}, options);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_THAT(result.standardError,
                ContainsRegex("^[0-9/]{8} [0-9:]{8} INFO     pyx-video: pid='" + Pid +
                              "' duration='10' --no-video \n"
                              "Borderless capture is not supported by this version of Windows\n"
                              "no X display: DISPLAY is not set\n$"));
}

TEST(StartupTest, DisplayWithoutTheCaptureExtensionsIsRefusedToo) {
    ProcessOptions options;
    options.environment["DISPLAY"] = ":1999";
    const auto result = RunProcess({PyxVideoBinary()}, options);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_THAT(result.standardError,
                EndsWith("Borderless capture is not supported by this version of Windows\n"
                         "no X display: cannot open :1999\n"));
}

TEST(StartupTest, LogOptionAppendsEveryLineToTheFile) {
    const ShortLivedTarget target;
    const auto path = std::filesystem::temp_directory_path() / ("pyx-startup-log-" + Pid);
    std::filesystem::remove(path);
    const auto result = RunProcess({PyxVideoBinary(), "--pid=" + target.Pid(), "--log", path.string()});
    EXPECT_EQ(result.exitStatus, 0);
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_THAT(content.str(), ContainsRegex("^[0-9/]{8} [0-9:]{8} INFO     pyx-video: pid='" + target.Pid() +
                                             "' duration='10'  \n"));
    EXPECT_THAT(content.str(), HasSubstr("INFO     event: process closed\n"));
    std::filesystem::remove(path);
}

TEST(StartupTest, UnwritableLogFileIsReportedAndTheRunGoesOn) {
    const ShortLivedTarget target;
    const auto result =
        RunProcess({PyxVideoBinary(), "--pid=" + target.Pid(), "--log=/nonexistent-dir/pyx.log"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_THAT(result.standardError,
                HasSubstr("ERROR    unable to open log file: filename(/nonexistent-dir/pyx.log)"));
    EXPECT_THAT(result.standardError, HasSubstr("pyx-video: pid='" + target.Pid() + "'"));
}

} // namespace
