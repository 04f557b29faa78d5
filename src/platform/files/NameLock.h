#pragma once
// The exclusive lock one recording holds on its NAME for its whole life: an advisory flock on a lock file
// beside the ring. The kernel drops it when the holder dies, so a killed recorder never blocks recovery;
// a lock file it left behind is simply locked again.

#include <memory>
#include <string>

class NameLock {
public:
    enum class Result { Held, InUse, Failed };

    // Creates or opens `path` (never through a symbolic link, never blocking on a FIFO, only a regular
    // file) and locks it without waiting. On InUse or Failed, `error` says why in words.
    static Result Acquire(const std::string& path, std::unique_ptr<NameLock>& lock, std::string& error);

    // Removes the lock file while still holding the lock, then releases it.
    ~NameLock();
    NameLock(const NameLock&) = delete;
    NameLock& operator=(const NameLock&) = delete;

private:
    NameLock(std::string path, int fd) : m_path(std::move(path)), m_fd(fd) {}

    std::string m_path;
    int m_fd;
};
