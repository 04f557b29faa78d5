// The recorder's command line as its starter meets it: every bad value or unknown argument, and every event
// that is not an inherited eventfd, ends the run at once with status 2 and a message naming the option;
// --help and --version answer and exit 0. None of this needs a display: nothing is opened before it.

#include "ProcessRunner.h"
#include "TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr int BadCommandLine = 2;

std::string Hex(int fd) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%x", fd);
    return text;
}

ProcessResult RunRecorder(std::vector<std::string> arguments, std::vector<int> inherited = {}) {
    arguments.insert(arguments.begin(), PyxVideoBinary());
    ProcessOptions options;
    options.inheritedDescriptors = std::move(inherited);
    options.timeout = std::chrono::milliseconds(10000);
    // Without a display a run that got past the command line would say so: none must.
    options.environment["DISPLAY"] = std::nullopt;
    return RunProcess(arguments, options);
}

TEST(CommandLineTest, BadValuesAndUnknownArgumentsAreRefusedWithStatusTwo) {
    TempDirectory folder;
    const std::string name = folder.Path("report").string();
    const std::vector<std::vector<std::string>> refused = {
        {"--pid=1", "--duration", "-1"},
        {"--pid=1", "--duration=abc"},
        {"--pid=1", "--duration", "1.5"},
        {"--pid=1", "--duration=4294967297"},
        {"--pid=12abc"},
        {"--pid=1", "--no-videos"},
        {"--pid=1", "--bogus"},
        {"--pid=1", "surplus"},
        {"--pid"},
        {"--pid=1", "--save-event=zz"},
        {"--export", name, "surplus"},
    };
    for (const auto& arguments : refused) {
        std::vector<std::string> withFile = arguments;
        if (arguments.front() != "--export")
            withFile.insert(withFile.end(), {"--file", name});
        const ProcessResult result = RunRecorder(withFile);
        EXPECT_EQ(result.exitStatus, BadCommandLine) << arguments.back() << "\n" << result.standardError;
        EXPECT_THAT(result.standardError, StartsWith("pyx-video: ")) << arguments.back();
        EXPECT_THAT(result.standardError, ::testing::Not(HasSubstr("Borderless"))) << arguments.back();
    }
    EXPECT_THAT(RunRecorder({"--pid=12abc"}).standardError,
                HasSubstr("'--pid' value '12abc' is not a whole number"));
    // Nothing was created for NAME.
    EXPECT_TRUE(std::filesystem::is_empty(folder.Root()));
}

TEST(CommandLineTest, EventsMustBeInheritedEventfds) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    TempDirectory folder;
    const int file = ::open(folder.Path("plain").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const int event = ::eventfd(0, EFD_CLOEXEC);
    const int closed = 250;
    for (const auto& [fd, what] :
         {std::pair{pipeEnds[0], "pipe"}, std::pair{file, "file"}, std::pair{closed, "closed descriptor"}}) {
        for (const char* option : {"--save-event", "--cancel-event"}) {
            const std::string other =
                std::string(option) == "--save-event" ? "--cancel-event" : "--save-event";
            const ProcessResult result =
                RunRecorder({"--pid=1", option, Hex(fd), other, Hex(event)}, {pipeEnds[0], file, event});
            EXPECT_EQ(result.exitStatus, BadCommandLine) << what << " " << option;
            EXPECT_THAT(result.standardError,
                        HasSubstr(std::string("'") + option + "' names no inherited eventfd"))
                << what;
        }
    }
    // A real eventfd passes the check and the run goes on to the capability test.
    const ProcessResult passed = RunRecorder({"--pid=1", "--save-event", Hex(event)}, {event});
    EXPECT_EQ(passed.exitStatus, 255) << passed.standardError;
    for (const int fd : {pipeEnds[0], pipeEnds[1], file, event})
        ::close(fd);
}

TEST(CommandLineTest, HelpAndVersionAnswerOnStandardOutput) {
    const ProcessResult help = RunRecorder({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    for (const char* text : {"usage: pyx-video", "--save-event=HANDLE", "SIGUSR1",
                             "Exit status:", "  5    partial export", "locks NAME"})
        EXPECT_THAT(help.standardOutput, HasSubstr(text));
    const ProcessResult version = RunRecorder({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_THAT(version.standardOutput, ::testing::MatchesRegex("pyx-video [0-9]+\\.[0-9]+\\.[0-9]+\n"));
}

} // namespace
