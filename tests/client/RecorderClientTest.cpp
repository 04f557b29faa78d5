#include "ProcessRunner.h"
#include "TempDirectory.h"
#include <pyx-video-client.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using ::testing::Contains;
using ::testing::HasSubstr;

namespace {

const std::string FakeRecorder = PYX_FAKE_RECORDER_BINARY;

std::set<int> OpenDescriptors() {
    std::set<int> fds;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        fds.insert(std::stoi(entry.path().filename().string()));
    // The directory's own descriptor is gone again by now.
    std::set<int> open;
    for (int fd : fds)
        if (fcntl(fd, F_GETFD) != -1)
            open.insert(fd);
    return open;
}

// What the fake recorder wrote at its start: its pid, the descriptors it inherited, its arguments.
struct Started {
    int pid = 0;
    std::set<int> fds;
    std::vector<std::string> arguments;
};

Started WaitForStart(const std::filesystem::path& name) {
    const std::string path = name.string() + ".started";
    EXPECT_TRUE(Eventually([&] { return std::filesystem::exists(path); }, std::chrono::seconds(20))) << path;
    Started started;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    started.pid = std::stoi(line);
    while (std::getline(in, line)) {
        if (line.rfind("fd ", 0) == 0)
            started.fds.insert(std::stoi(line.substr(3)));
        else
            started.arguments.push_back(line);
    }
    return started;
}

bool ProcessGone(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content;
    std::getline(stat, content);
    // Gone, or a zombie of a parent that does not reap (an init in a container may not).
    return content.empty() || content.find(") Z ") != std::string::npos;
}

pyx_video_options Options(const std::filesystem::path& name) {
    pyx_video_options options;
    pyx_video_options_init(&options);
    options.recorder_path = FakeRecorder.c_str();
    static std::string file;
    file = name.string();
    options.file = file.c_str();
    return options;
}

pyx_video_recorder* g_recorder = nullptr;
volatile std::sig_atomic_t g_saveResult = -2;

void SaveOnSignal(int) { g_saveResult = pyx_video_save(g_recorder); }

TEST(RecorderClientTest, CrashHandlerSavesFromASignalHandlerAndOnlyTheEventsLeak) {
    const TempDirectory dir;
    const auto name = dir.Path("report");
    // A descriptor the application left inheritable must still not reach the recorder.
    const int inheritable = open("/dev/null", O_RDONLY);
    ASSERT_GE(inheritable, 0);
    const std::set<int> before = OpenDescriptors();

    auto options = Options(name);
    options.duration = 30;
    options.no_desktop = 1;
    char why[256] = "";
    g_recorder = pyx_video_start(&options, why, sizeof why);
    ASSERT_NE(g_recorder, nullptr) << why;

    std::set<int> events;
    for (int fd : OpenDescriptors())
        if (!before.count(fd))
            events.insert(fd);
    EXPECT_EQ(events.size(), 2u) << "the application holds the two events and nothing else";
    const Started started = WaitForStart(name);
    EXPECT_EQ(started.pid, pyx_video_recorder_pid(g_recorder));
    std::set<int> expected = {0, 1, 2};
    expected.insert(events.begin(), events.end());
    EXPECT_EQ(started.fds, expected);
    EXPECT_THAT(started.arguments, Contains("--pid=" + std::to_string(getpid())));
    EXPECT_THAT(started.arguments, Contains("--no-desktop"));
    EXPECT_THAT(started.arguments, Contains("30"));

    pyx_video_outcome outcome;
    EXPECT_EQ(pyx_video_wait(g_recorder, 0, &outcome), PYX_VIDEO_RUNNING);

    struct sigaction action {};
    action.sa_handler = SaveOnSignal;
    sigaction(SIGUSR2, &action, nullptr);
    errno = 1234;
    raise(SIGUSR2);
    EXPECT_EQ(errno, 1234) << "the save leaves errno as it was";
    EXPECT_EQ(g_saveResult, 0);
    signal(SIGUSR2, SIG_DFL);

    ASSERT_EQ(pyx_video_wait(g_recorder, 10000, &outcome), PYX_VIDEO_SAVED);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(std::string(outcome.mp4_path), name.string() + ".mp4");
    EXPECT_EQ(std::string(outcome.jpg_path), name.string() + ".jpg");
    // A stop after the end only releases it.
    EXPECT_EQ(pyx_video_stop(g_recorder, 1000, nullptr), PYX_VIDEO_SAVED);
    EXPECT_EQ(OpenDescriptors(), before);
    close(inheritable);
}

TEST(RecorderClientTest, ExpiredDeadlineSaysRunningAndAStopLeavesNothingBehind) {
    const TempDirectory dir;
    const auto name = dir.Path("report");
    auto options = Options(name);
    char why[256] = "";
    pyx_video_recorder* recorder = pyx_video_start(&options, why, sizeof why);
    ASSERT_NE(recorder, nullptr) << why;
    const int pid = WaitForStart(name).pid;

    pyx_video_outcome outcome;
    EXPECT_EQ(pyx_video_wait(recorder, 100, &outcome), PYX_VIDEO_RUNNING);
    EXPECT_EQ(outcome.state, PYX_VIDEO_RUNNING);
    EXPECT_FALSE(ProcessGone(pid));
    EXPECT_EQ(pyx_video_stop(recorder, 10000, &outcome), PYX_VIDEO_NOT_SAVED);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_STREQ(outcome.mp4_path, "");
    EXPECT_TRUE(ProcessGone(pid));
    EXPECT_FALSE(std::filesystem::exists(name.string() + ".mp4"));

    // One that ignores the cancel is killed once the stop's deadline passes.
    std::filesystem::remove(name.string() + ".started");
    setenv("FAKE_RECORDER_DEAF", "1", 1);
    recorder = pyx_video_start(&options, why, sizeof why);
    unsetenv("FAKE_RECORDER_DEAF");
    ASSERT_NE(recorder, nullptr) << why;
    const int deafPid = WaitForStart(name).pid;
    EXPECT_EQ(pyx_video_stop(recorder, 200, &outcome), PYX_VIDEO_FAILED);
    EXPECT_EQ(outcome.signal, SIGKILL);
    EXPECT_THAT(outcome.reason, HasSubstr("killed by signal 9"));
    EXPECT_TRUE(ProcessGone(deafPid));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "no child is left to reap";
}

TEST(RecorderClientTest, ARecorderThatCannotStartOrFailsSaysWhy) {
    const TempDirectory dir;
    auto options = Options(dir.Path("report"));
    char why[256] = "";

    options.recorder_path = "/nonexistent/pyx-video";
    EXPECT_EQ(pyx_video_start(&options, why, sizeof why), nullptr);
    EXPECT_THAT(why, HasSubstr("cannot run the recorder /nonexistent/pyx-video: No such file or directory"));

    // Executable, but not a program: exec itself fails, in the child.
    const std::string notAProgram = dir.Path("not-a-program").string();
    std::ofstream(notAProgram) << "\x7f"
                                  "ELF garbage";
    chmod(notAProgram.c_str(), 0700);
    options.recorder_path = notAProgram.c_str();
    const std::set<int> before = OpenDescriptors();
    EXPECT_EQ(pyx_video_start(&options, why, sizeof why), nullptr);
    EXPECT_THAT(why, HasSubstr("cannot run the recorder " + notAProgram + ": Exec format error"));
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "the failed child was collected";

    // Found through the environment; it starts, then fails.
    options.recorder_path = nullptr;
    setenv("PYX_VIDEO_RECORDER", FakeRecorder.c_str(), 1);
    setenv("FAKE_RECORDER_EXIT", "255", 1);
    pyx_video_recorder* recorder = pyx_video_start(&options, why, sizeof why);
    unsetenv("FAKE_RECORDER_EXIT");
    unsetenv("PYX_VIDEO_RECORDER");
    ASSERT_NE(recorder, nullptr) << why;
    pyx_video_outcome outcome;
    EXPECT_EQ(pyx_video_wait(recorder, 10000, &outcome), PYX_VIDEO_FAILED);
    EXPECT_EQ(outcome.exit_status, 255);
    EXPECT_STREQ(outcome.reason, "the recorder failed with exit status 255");
    pyx_video_stop(recorder, 0, nullptr);

    // The recorder's nothing-recorded status is no failure: there was nothing to save.
    options.recorder_path = FakeRecorder.c_str();
    setenv("FAKE_RECORDER_EXIT", "3", 1);
    recorder = pyx_video_start(&options, why, sizeof why);
    unsetenv("FAKE_RECORDER_EXIT");
    ASSERT_NE(recorder, nullptr) << why;
    EXPECT_EQ(pyx_video_wait(recorder, 10000, &outcome), PYX_VIDEO_NOT_SAVED);
    EXPECT_EQ(outcome.exit_status, 3);
    pyx_video_stop(recorder, 0, nullptr);

    // With NAME.json the reason is the recorder's own.
    options.recorder_path = FakeRecorder.c_str();
    setenv("FAKE_RECORDER_EXIT", "1", 1);
    setenv("FAKE_RECORDER_ERROR", "unable to write \\\"/x/report.mp4\\\":\\u0009Permission denied", 1);
    recorder = pyx_video_start(&options, why, sizeof why);
    unsetenv("FAKE_RECORDER_EXIT");
    unsetenv("FAKE_RECORDER_ERROR");
    ASSERT_NE(recorder, nullptr) << why;
    EXPECT_EQ(pyx_video_stop(recorder, 10000, &outcome), PYX_VIDEO_FAILED);
    EXPECT_STREQ(
        outcome.reason,
        "the recorder failed with exit status 1: unable to write \"/x/report.mp4\": Permission denied");
}

// Starts a recorder for `target` in a child process that then ends as `end` says without stopping it; returns
// the recorder's pid.
int RecorderOfAForgetfulCaller(const std::filesystem::path& name, int target, void (*end)(int)) {
    const pid_t caller = fork();
    if (caller == 0) {
        auto options = Options(name);
        options.pid = target;
        if (pyx_video_start(&options, nullptr, 0) == nullptr)
            _exit(1);
        while (!std::filesystem::exists(name.string() + ".started"))
            usleep(10000);
        end(0);
    }
    int status = 0;
    waitpid(caller, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return WaitForStart(name).pid;
}

TEST(RecorderClientTest, TheRecorderNeverOutlivesTheApplicationThatStartedIt) {
    const TempDirectory dir;
    // An application that records itself and exits normally cancels the recording and waits for the end.
    const auto exited = dir.Path("exited");
    EXPECT_TRUE(ProcessGone(RecorderOfAForgetfulCaller(exited, 0, std::exit)));
    EXPECT_FALSE(std::filesystem::exists(exited.string() + ".mp4"));

    // A reporter that records another process and dies without running any exit handler takes its recorder
    // along.
    const auto died = dir.Path("died");
    const int orphan = RecorderOfAForgetfulCaller(died, getpid(), _exit);
    EXPECT_TRUE(Eventually([&] { return ProcessGone(orphan); })) << "the orphaned recorder still runs";
    EXPECT_FALSE(std::filesystem::exists(died.string() + ".mp4"));
}

} // namespace
