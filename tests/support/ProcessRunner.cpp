#include "ProcessRunner.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<std::string> BuildEnvironment(const ProcessOptions& options) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : options.environment) {
        if (value)
            variables[name] = *value;
        else
            variables.erase(name);
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : variables)
        result.push_back(name + "=" + value);
    return result;
}

int AnonymousFile() {
    std::FILE* file = std::tmpfile();
    if (file == nullptr)
        throw std::runtime_error("tmpfile failed");
    const int fd = ::dup(::fileno(file));
    std::fclose(file);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (off_t offset = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof(buffer), offset);
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, const ProcessOptions& options)
    : m_out(AnonymousFile()), m_err(AnonymousFile()) {
    std::vector<std::string> environment = BuildEnvironment(options);
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        ::dup2(m_out, STDOUT_FILENO);
        ::dup2(m_err, STDERR_FILENO);
        for (int fd : options.inheritedDescriptors)
            ::fcntl(fd, F_SETFD, 0);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (!m_status) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    ::close(m_out);
    ::close(m_err);
}

void ChildProcess::Signal(int signal) const { ::kill(m_pid, signal); }

std::string ChildProcess::StandardOutput() const { return ReadAll(m_out); }

std::string ChildProcess::StandardError() const { return ReadAll(m_err); }

ProcessResult ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (!m_status) {
        int status = 0;
        const bool ended = Eventually([&] { return ::waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeout);
        if (!ended) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return {*m_status, ReadAll(m_out), ReadAll(m_err)};
}

ProcessResult RunProcess(const std::vector<std::string>& arguments, const ProcessOptions& options) {
    ChildProcess child(arguments, options);
    return child.Wait(options.timeout);
}

std::string PyxVideoBinary() {
    const char* path = std::getenv("PYX_VIDEO_BINARY");
    if (path == nullptr)
        throw std::runtime_error("PYX_VIDEO_BINARY is not set");
    return path;
}
