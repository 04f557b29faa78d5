#pragma once
// Runs a program with arguments and environment changes, and collects its exit status and output.

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct ProcessResult {
    int exitStatus = -1; // exit code, or 128 + signal number when killed
    std::string standardOutput;
    std::string standardError;
};

struct ProcessOptions {
    // Variables to set; a nullopt value removes the variable.
    std::map<std::string, std::optional<std::string>> environment;
    std::chrono::milliseconds timeout{60000};
    // Descriptors the program inherits under their own numbers.
    std::vector<int> inheritedDescriptors;
};

// A program running in the background; its output goes to temporary files that can be read at any time.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& arguments, const ProcessOptions& options = {});
    // Kills the program if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const;
    std::string StandardOutput() const;
    std::string StandardError() const;
    // Waits for the end (killing the program after `timeout`) and collects the result.
    ProcessResult Wait(std::chrono::milliseconds timeout);

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::optional<int> m_status;
};

ProcessResult RunProcess(const std::vector<std::string>& arguments, const ProcessOptions& options = {});

// Polls `condition` every 20 ms until it holds or `timeout` passes; true when it held.
template <class Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// The pyx-video binary under test (from PYX_VIDEO_BINARY).
std::string PyxVideoBinary();

#include <thread>

template <class Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
