#include <synchapi.h>

#include "EventSignal.h"
#include "HandleTable.h"
#include "SystemError.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

bool IsEventDescriptor(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char target[64];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length > 0 && std::string(target, static_cast<std::size_t>(length)) == "anon_inode:[eventfd]";
}

// Our own events, or an eventfd inherited from the parent.
int EventDescriptor(HANDLE event) {
    const int fd = HandleToDescriptor(event);
    if (fd >= 0) {
        const auto entry = HandleTable::Instance().Find(fd);
        if (entry ? entry->kind == HandleKind::Event : IsEventDescriptor(fd))
            return fd;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
}

} // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (name != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    const bool inherit = attributes != nullptr && attributes->bInheritHandle;
    const int fd = ::eventfd(initialState ? 1 : 0, EFD_NONBLOCK | (inherit ? 0 : EFD_CLOEXEC));
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    const HANDLE event = HandleTable::Instance().Register(fd, {HandleKind::Event, manualReset != FALSE});
    if (event != nullptr)
        SetLastError(ERROR_SUCCESS);
    return event;
}

BOOL SetEvent(HANDLE event) {
    const int fd = EventDescriptor(event);
    if (fd < 0)
        return FALSE;
    const std::uint64_t one = 1;
    for (;;) {
        if (::write(fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one))
            return TRUE;
        // EAGAIN: the counter is at its limit, so the event is signalled already.
        if (errno == EAGAIN)
            return TRUE;
        if (errno != EINTR) {
            SetLastErrorFromErrno(errno);
            return FALSE;
        }
    }
}

BOOL ResetEvent(HANDLE event) {
    const int fd = EventDescriptor(event);
    if (fd < 0)
        return FALSE;
    // A semaphore-mode eventfd gives its counter back one read at a time.
    for (;;) {
        switch (TakeEventSignal(fd)) {
        case SignalTake::Taken:
            continue;
        case SignalTake::Empty:
            return TRUE;
        case SignalTake::Failed:
            SetLastErrorFromErrno(errno);
            return FALSE;
        }
    }
}
