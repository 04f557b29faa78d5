#include "PrivateSoundServer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

PrivateSoundServer::PrivateSoundServer(std::vector<std::string> sinkArguments)
    : m_sinkArguments(std::move(sinkArguments)) {
    std::string pattern = (std::filesystem::temp_directory_path() / "pyx-sound-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_folder = pattern;
}

PrivateSoundServer::~PrivateSoundServer() {
    m_process.reset();
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void PrivateSoundServer::Start() {
    const char* sourceDir = std::getenv("PYX_SOURCE_DIR");
    ASSERT_NE(sourceDir, nullptr) << "PYX_SOURCE_DIR names the source tree";
    const std::string wrapper = std::string(sourceDir) + "/scripts/test-env/with-sound";
    std::vector<std::string> arguments = {wrapper, "--serve", m_folder.string()};
    arguments.insert(arguments.end(), m_sinkArguments.begin(), m_sinkArguments.end());
    m_process = std::make_unique<ChildProcess>(arguments);
    const ProcessResult settled = RunProcess({wrapper, "--settle", m_folder.string()});
    ASSERT_EQ(settled.exitStatus, 0) << settled.standardError << m_process->StandardError();
}

void PrivateSoundServer::Kill() {
    m_process->Signal(SIGKILL);
    m_process->Wait(std::chrono::milliseconds(5000));
    m_process.reset();
}

std::string PrivateSoundServer::Address() const { return "unix:" + (m_folder / "native").string(); }

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}
