#include "NameLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ErrorText(int error) {
    std::string text = std::strerror(error);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

} // namespace

NameLock::Result NameLock::Acquire(const std::string& path, std::unique_ptr<NameLock>& lock,
                                   std::string& error) {
    lock.reset();
    // A holder removes the file before it unlocks, so a lock taken on a file that is no longer the one at
    // the path guards nothing: take the new one instead.
    for (;;) {
        int fd;
        do {
            fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            error = path + ": " + ErrorText(errno);
            return Result::Failed;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            error = path + ": not a regular file";
            return Result::Failed;
        }
        int locked;
        do {
            locked = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            const int lockError = errno;
            ::close(fd);
            if (lockError == EWOULDBLOCK) {
                error = path + " is locked by another recorder or export";
                return Result::InUse;
            }
            error = path + ": " + ErrorText(lockError);
            return Result::Failed;
        }
        struct stat current {};
        if (::lstat(path.c_str(), &current) == 0 && current.st_dev == opened.st_dev &&
            current.st_ino == opened.st_ino) {
            lock.reset(new NameLock(path, fd));
            return Result::Held;
        }
        ::close(fd);
    }
}

NameLock::~NameLock() {
    ::unlink(m_path.c_str());
    ::close(m_fd);
}
