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

TEST(StartupTest, StartLineShowsEffectiveValuesAndTheRunEndsWithZero) {
    const auto result = RunProcess({PyxVideoBinary(), "--pid=" + Pid, "--duration", "0", "--no-desktop"});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_THAT(result.standardError, ContainsRegex("^[0-9/]{8} [0-9:]{8} INFO     pyx-video: pid='" + Pid +
                                                    "' duration='10'  --no-desktop\n$"));
    EXPECT_EQ(result.standardOutput, "");
}

TEST(StartupTest, WithoutFlagsTheStartLineEndsInTwoBlanks) {
    const auto result = RunProcess({PyxVideoBinary(), "--pid", Pid, "--duration=30"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_THAT(result.standardError, EndsWith("pyx-video: pid='" + Pid + "' duration='30'  \n"));
}

TEST(StartupTest, WithoutADisplayTheCapabilityMessageEndsTheRunWith255) {
    ProcessOptions options;
    options.environment["DISPLAY"] = std::nullopt;
    const auto result = RunProcess({PyxVideoBinary(), "--pid=" + Pid, "--no-video"}, options);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_THAT(result.standardError,
                ContainsRegex("^[0-9/]{8} [0-9:]{8} INFO     pyx-video: pid='" + Pid +
                              "' duration='10' --no-video \n"
                              "Borderless capture is not supported by this version of Windows$"));
}

TEST(StartupTest, DisplayWithoutTheCaptureExtensionsIsRefusedToo) {
    ProcessOptions options;
    options.environment["DISPLAY"] = ":1999";
    const auto result = RunProcess({PyxVideoBinary()}, options);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_THAT(result.standardError,
                EndsWith("Borderless capture is not supported by this version of Windows"));
}

TEST(StartupTest, LogOptionAppendsEveryLineToTheFile) {
    const auto path = std::filesystem::temp_directory_path() / ("pyx-startup-log-" + Pid);
    std::filesystem::remove(path);
    const auto result = RunProcess({PyxVideoBinary(), "--pid=" + Pid, "--log", path.string()});
    EXPECT_EQ(result.exitStatus, 0);
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_THAT(content.str(), ContainsRegex("INFO     pyx-video: pid='" + Pid + "' duration='10'  \n$"));
    std::filesystem::remove(path);
}

TEST(StartupTest, UnwritableLogFileIsReportedAndTheRunGoesOn) {
    const auto result = RunProcess({PyxVideoBinary(), "--pid=" + Pid, "--log=/nonexistent-dir/pyx.log"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_THAT(result.standardError,
                HasSubstr("ERROR    unable to open log file: filename(/nonexistent-dir/pyx.log)"));
    EXPECT_THAT(result.standardError, HasSubstr("pyx-video: pid='" + Pid + "'"));
}

} // namespace
