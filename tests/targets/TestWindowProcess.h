#pragma once
// Runs the test window program and talks to it: one command, one answer.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

class TestWindowProcess {
public:
    TestWindowProcess();
    ~TestWindowProcess();
    TestWindowProcess(const TestWindowProcess&) = delete;
    TestWindowProcess& operator=(const TestWindowProcess&) = delete;

    pid_t Pid() const { return m_pid; }

    // Sends one command and returns its answer line.
    std::string Command(const std::string& line);
    // Creates a window (see the program for the arguments) and returns its id.
    std::uint32_t Create(const std::string& arguments);
    // Ends the program (its windows go with it) and waits until a window manager has handled their end: the
    // next program may be given the same window ids, and a manager still holding one ignores the new window.
    void Kill();

private:
    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
    std::string m_buffered;
};

// Polls `condition` until it holds or `timeout` passes; true when it held.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
