#pragma once
// A file written through libavformat's I/O layer on a descriptor we opened ourselves, so the file gets our
// permissions (0600, no symbolic link at the final component) and write errors keep their errno.

#include <memory>
#include <string>

struct AVIOContext;

namespace av {

struct FormatLibrary;

class FileOutput {
public:
    // 0 on success, else the errno value.
    static int Open(const FormatLibrary& library, const std::string& path,
                    std::unique_ptr<FileOutput>& output);
    ~FileOutput();
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    AVIOContext* Context() const { return m_io; }
    // Flushes and closes; 0 or the errno of the first failed write or of the close.
    int Close();
    int LastError() const { return m_error; }

private:
    FileOutput(const FormatLibrary& library, int fd) : m_library(library), m_fd(fd) {}
    static int Write(void* opaque, const unsigned char* data, int size);
    static long long Seek(void* opaque, long long offset, int whence);

    const FormatLibrary& m_library;
    int m_fd;
    AVIOContext* m_io = nullptr;
    int m_error = 0;
};

} // namespace av
