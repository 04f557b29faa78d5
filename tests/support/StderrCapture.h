#pragma once
// Redirects standard error into a temporary file for the lifetime of the object.

#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        m_file = std::tmpfile();
        m_saved = ::dup(STDERR_FILENO);
        if (m_file == nullptr || m_saved < 0 || ::dup2(::fileno(m_file), STDERR_FILENO) < 0)
            throw std::runtime_error("cannot redirect standard error");
    }
    ~StderrCapture() {
        Restore();
        if (m_file != nullptr)
            std::fclose(m_file);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Everything written to standard error so far.
    std::string Text() const {
        std::string text;
        char buffer[4096];
        for (off_t offset = 0;;) {
            const ssize_t n = ::pread(::fileno(m_file), buffer, sizeof(buffer), offset);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
            offset += n;
        }
        return text;
    }

private:
    void Restore() {
        if (m_saved >= 0) {
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
            m_saved = -1;
        }
    }

    std::FILE* m_file = nullptr;
    int m_saved = -1;
};
