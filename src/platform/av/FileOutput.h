#pragma once
// A file written through libavformat's I/O layer on a descriptor we opened ourselves, so the file gets our
// permissions (0600, no symbolic link at the final component) and write errors keep their errno.

#include <memory>
#include <string>

struct AVIOContext;

namespace av {

class FileOutput {
public:
    // 0 on success, else the errno value.
    static int Open(const std::string& path, std::unique_ptr<FileOutput>& output);
    ~FileOutput();
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    AVIOContext* Context() const { return m_io; }
    // Flushes and closes; 0 or the errno of the first failed write or of the close.
    int Close();
    int LastError() const { return m_error; }

private:
    FileOutput(int fd, AVIOContext* io) : m_fd(fd), m_io(io) {}
    static int Write(void* opaque, const unsigned char* data, int size);
    static long long Seek(void* opaque, long long offset, int whence);

    int m_fd;
    AVIOContext* m_io;
    int m_error = 0;
};

} // namespace av
