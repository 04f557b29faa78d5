#include <synchapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

HANDLE Event(bool manualReset, bool signalled) {
    return CreateEventW(nullptr, manualReset, signalled, nullptr);
}

// Waits never consume the signal; only ResetEvent does, and resetting an unsignalled event returns at once.
void ExpectManualReset(HANDLE event) {
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(event));
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_TRUE(CloseHandle(event));
}

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
    const HANDLE event = Event(true, false);
    ASSERT_NE(event, nullptr);
    ExpectManualReset(event);
}

TEST(EventTest, AutoResetWaitConsumesTheSignal) {
    const HANDLE event = Event(false, true);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    // Two sets before a wait still release only one wait.
    SetEvent(event);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(EventTest, CreationOptionsAndBadHandles) {
    EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, L"Global\\save"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

    const HANDLE privateEvent = Event(true, false);
    EXPECT_NE(::fcntl(HandleToDescriptor(privateEvent), F_GETFD) & FD_CLOEXEC, 0);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE inherited = CreateEventW(&inherit, TRUE, FALSE, nullptr);
    ASSERT_NE(inherited, nullptr);
    EXPECT_EQ(::fcntl(HandleToDescriptor(inherited), F_GETFD) & FD_CLOEXEC, 0);
    CloseHandle(inherited);
    CloseHandle(privateEvent);

    for (HANDLE bad : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, privateEvent}) {
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(ResetEvent(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    // A descriptor that is not an event cannot be set.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    EXPECT_FALSE(SetEvent(DescriptorToHandle(pipeFds[1])));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(EventTest, InheritedDescriptorWorksAsManualResetEvent) {
    // As a parent would hand it over: a blocking eventfd this process did not create.
    const int fd = ::eventfd(0, 0);
    ASSERT_GT(fd, 0);
    ExpectManualReset(DescriptorToHandle(fd));
}

TEST(EventTest, DescriptorZeroIsNeverHandedOut) {
    // With standard input closed the next descriptor is 0, which would read as the null handle.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(STDIN_FILENO);
        const HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        const bool usable = event != nullptr && HandleToDescriptor(event) > 0 &&
                            WaitForSingleObject(event, 0) == WAIT_OBJECT_0 &&
                            ::fcntl(STDIN_FILENO, F_GETFD) < 0;
        ::_exit(usable ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(WaitTest, LowestSignalledIndexWins) {
    const HANDLE events[3] = {Event(true, false), Event(true, true), Event(true, true)};
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0);
    ResetEvent(events[0]);
    ResetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, INFINITE), WAIT_OBJECT_0 + 2);
    for (HANDLE event : events)
        CloseHandle(event);
}

TEST(WaitTest, AutoResetWinnerAloneIsConsumed) {
    const HANDLE events[2] = {Event(false, true), Event(false, true)};
    EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_TIMEOUT);
    for (HANDLE event : events)
        CloseHandle(event);
}

TEST(WaitTest, TimesOutAfterTheTimeAndWakesOnSet) {
    const HANDLE event = Event(true, false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

    std::thread setter([event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(event);
}

TEST(WaitTest, SignalsNeitherEndTheWaitEarlyNorFailIt) {
    struct sigaction action {};
    action.sa_handler = [](int) {
    };
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0); // no SA_RESTART: poll() sees EINTR
    const HANDLE event = Event(true, false);
    const pthread_t waiter = ::pthread_self();
    std::atomic<bool> done{false};
    std::thread interrupter([&] {
        while (!done) {
            ::pthread_kill(waiter, SIGUSR2);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    done = true;
    interrupter.join();
    ::sigaction(SIGUSR2, &previous, nullptr);
    CloseHandle(event);
}

TEST(WaitTest, AutoResetReleasesExactlyOneOfTwoWaiters) {
    const HANDLE event = Event(false, false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            if (WaitForSingleObject(event, 500) == WAIT_OBJECT_0)
                ++released;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SetEvent(event);
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(released, 1);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(WaitTest, BadArgumentsFail) {
    const HANDLE event = Event(true, true);
    const HANDLE withNull[2] = {event, nullptr};
    EXPECT_EQ(WaitForMultipleObjects(2, withNull, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForMultipleObjects(1, &event, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(0, &event, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    std::vector<HANDLE> tooMany(MAXIMUM_WAIT_OBJECTS + 1, event);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, tooMany.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, tooMany.data(), FALSE, 0), WAIT_OBJECT_0);
    CloseHandle(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

} // namespace
