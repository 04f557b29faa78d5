#pragma once
// A sound server of the test's own (the test wrapper's recipe, in a temporary folder) that can be stopped
// and started again, for tests of a server that goes away and comes back.

#include "ProcessRunner.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class PrivateSoundServer {
public:
    // Arguments for its null sink, such as "rate=32000". Not running until Start.
    explicit PrivateSoundServer(std::vector<std::string> sinkArguments = {});
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // Starts the server and waits until it is ready for use.
    void Start();
    // Ends it the hard way, as a crash would.
    void Kill();
    // For PULSE_SERVER.
    std::string Address() const;

private:
    std::filesystem::path m_folder;
    std::vector<std::string> m_sinkArguments;
    std::unique_ptr<ChildProcess> m_process;
};

// The path of a program on PATH; empty when there is none.
std::string FindProgram(const std::string& name);
