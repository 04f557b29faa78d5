#include <processthreadsapi.h>
#include <synchapi.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

pid_t Spawn(const char* program, const char* argument) {
    pid_t pid = 0;
    char* const argv[] = {const_cast<char*>(program), const_cast<char*>(argument), nullptr};
    EXPECT_EQ(::posix_spawnp(&pid, program, nullptr, nullptr, argv, environ), 0);
    return pid;
}

TEST(ProcessTest, HandleIsSignalledWhenTheProcessEnds) {
    const pid_t child = Spawn("sleep", "0.2");
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(child));
    ASSERT_NE(process, nullptr);
    EXPECT_NE(::fcntl(HandleToDescriptor(process), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    // Ending stays signalled.
    EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_OBJECT_0);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(CloseHandle(process));
}

TEST(ProcessTest, ForkedChildExitWakesAMultipleWait) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::usleep(50000);
        ::_exit(3);
    }
    const HANDLE process = OpenProcess(SYNCHRONIZE, TRUE, static_cast<DWORD>(child));
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(::fcntl(HandleToDescriptor(process), F_GETFD) & FD_CLOEXEC, 0);
    const HANDLE idle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE handles[2] = {idle, process};
    EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 10000), WAIT_OBJECT_0 + 1);
    CloseHandle(idle);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 3);
    CloseHandle(process);
}

TEST(ProcessTest, MissingProcessGivesNullHandle) {
    const pid_t child = Spawn("true", nullptr);
    ::waitpid(child, nullptr, 0);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(child)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, 0xFFFFFFF0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ProcessTest, CurrentProcessIdIsThePid) {
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(::getpid()));
    const HANDLE self = OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(WaitForSingleObject(self, 0), WAIT_TIMEOUT);
    CloseHandle(self);
}

} // namespace
