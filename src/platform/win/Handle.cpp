#include <handleapi.h>

#include "HandleTable.h"
#include "SystemError.h"

#include <cerrno>
#include <climits>
#include <unistd.h>

int HandleToDescriptor(HANDLE handle) {
    const auto value = reinterpret_cast<LONG_PTR>(handle);
    if (value <= 0 || value > INT_MAX)
        return -1;
    return static_cast<int>(value);
}

HANDLE DescriptorToHandle(int fd) {
    if (fd < 0)
        return INVALID_HANDLE_VALUE;
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(fd));
}

BOOL CloseHandle(HANDLE handle) {
    const int fd = HandleToDescriptor(handle);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Forget the entry while the descriptor is still ours, so that a descriptor reused by another thread
    // right after close() keeps its own entry.
    HandleTable::Instance().Remove(fd);
    if (::close(fd) != 0 && errno == EBADF) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Any other close() error still releases the descriptor on Linux.
    return TRUE;
}
