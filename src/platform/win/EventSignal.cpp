#include "EventSignal.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <unistd.h>

namespace {

// Serialises the check-then-read on blocking descriptors, so that two takers never both block on one
// signal.
std::mutex g_blockingTakeMutex;

SignalTake Read(int fd) {
    std::uint64_t counter = 0;
    for (;;) {
        if (::read(fd, &counter, sizeof counter) == static_cast<ssize_t>(sizeof counter))
            return SignalTake::Taken;
        if (errno == EAGAIN)
            return SignalTake::Empty;
        if (errno != EINTR)
            return SignalTake::Failed;
    }
}

} // namespace

SignalTake TakeEventSignal(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return SignalTake::Failed;
    if (flags & O_NONBLOCK)
        return Read(fd);
    std::lock_guard lock(g_blockingTakeMutex);
    pollfd entry{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return SignalTake::Failed;
    if (ready == 0 || !(entry.revents & POLLIN))
        return SignalTake::Empty;
    return Read(fd);
}
