#include "HandleTable.h"

#include "SystemError.h"
#include <handleapi.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Descriptor 0 would read as the null handle; move it, keeping its close-on-exec flag.
int MoveOffZero(int fd) {
    if (fd != 0)
        return fd;
    const int flags = ::fcntl(fd, F_GETFD);
    const int moved = ::fcntl(fd, (flags & FD_CLOEXEC) ? F_DUPFD_CLOEXEC : F_DUPFD, 1);
    const int error = errno;
    ::close(fd);
    errno = error;
    return moved;
}

} // namespace

HandleTable& HandleTable::Instance() {
    static HandleTable table;
    return table;
}

HANDLE HandleTable::Register(int fd, const HandleEntry& entry) {
    fd = MoveOffZero(fd);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    std::lock_guard lock(m_mutex);
    m_entries[fd] = entry;
    return DescriptorToHandle(fd);
}

std::optional<HandleEntry> HandleTable::Find(int fd) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.find(fd);
    if (it == m_entries.end())
        return std::nullopt;
    return it->second;
}

int HandleTable::Lookup(HANDLE handle, HandleKind kind, bool allowUnregistered) const {
    const int fd = HandleToDescriptor(handle);
    if (fd >= 0) {
        const auto entry = Find(fd);
        if (entry ? entry->kind == kind : allowUnregistered)
            return fd;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
}

void HandleTable::Remove(int fd) {
    std::lock_guard lock(m_mutex);
    m_entries.erase(fd);
}
