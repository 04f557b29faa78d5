#include <synchapi.h>

#include "EventSignal.h"
#include "HandleTable.h"
#include "SystemError.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <poll.h>

namespace {

using Clock = std::chrono::steady_clock;

DWORD Fail(DWORD error) {
    SetLastError(error);
    return WAIT_FAILED;
}

// Rounded up so that a wait never ends before its time-out; long waits are done in several polls.
int PollTimeout(const std::optional<Clock::time_point>& deadline) {
    if (!deadline)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

} // namespace

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr || waitAll)
        return Fail(ERROR_INVALID_PARAMETER);
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS> fds{};
    std::array<bool, MAXIMUM_WAIT_OBJECTS> autoReset{};
    for (DWORD i = 0; i < count; ++i) {
        const int fd = HandleToDescriptor(handles[i]);
        if (fd < 0)
            return Fail(ERROR_INVALID_HANDLE);
        const auto entry = HandleTable::Instance().Find(fd);
        // Descriptors we did not create must at least be open; mappings are not waitable.
        if (entry ? entry->kind == HandleKind::Mapping : ::fcntl(fd, F_GETFD) < 0)
            return Fail(ERROR_INVALID_HANDLE);
        autoReset[i] = entry && entry->kind == HandleKind::Event && !entry->manualReset;
        fds[i] = {fd, POLLIN, 0};
    }
    std::optional<Clock::time_point> deadline;
    if (milliseconds != INFINITE)
        deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const int ready = ::poll(fds.data(), count, PollTimeout(deadline));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return Fail(Win32ErrorFromErrno(errno));
        }
        for (DWORD i = 0; i < count && ready > 0; ++i) {
            const short events = fds[i].revents;
            if (events & POLLNVAL)
                return Fail(ERROR_INVALID_HANDLE);
            if (!(events & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (!autoReset[i])
                return WAIT_OBJECT_0 + i;
            // Another waiter may take the signal first; then this one waits on.
            switch (TakeEventSignal(fds[i].fd)) {
            case SignalTake::Taken:
                return WAIT_OBJECT_0 + i;
            case SignalTake::Empty:
                break;
            case SignalTake::Failed:
                return Fail(Win32ErrorFromErrno(errno));
            }
        }
        if (ready == 0 && deadline && Clock::now() >= *deadline)
            return WAIT_TIMEOUT;
    }
}
