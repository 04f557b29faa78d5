#include "SignalEvents.h"

#include "platform/launch/ProcessGuard.h"

#include <synchapi.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <limits>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

bool IsEventDescriptor(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value > static_cast<std::uintptr_t>(std::numeric_limits<int>::max()))
        return false;
    const std::string link = "/proc/self/fd/" + std::to_string(value);
    char target[64] = {};
    const ssize_t length = ::readlink(link.c_str(), target, sizeof(target) - 1);
    return length > 0 && std::string_view(target, static_cast<std::size_t>(length)) == "anon_inode:[eventfd]";
}

SignalEvents::SignalEvents(HANDLE saveEvent, HANDLE cancelEvent)
    : m_saveEvent(saveEvent), m_cancelEvent(cancelEvent) {
    const sigset_t signals = RecorderSignals();
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0)
        ThrowErrno("pthread_sigmask");
    m_signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (m_signalFd < 0)
        ThrowErrno("signalfd");
    m_stopFd = eventfd(0, EFD_CLOEXEC);
    if (m_stopFd < 0) {
        const int error = errno;
        ::close(m_signalFd);
        throw std::system_error(error, std::generic_category(), "eventfd");
    }
    try {
        m_thread = std::thread(&SignalEvents::Watch, this);
    } catch (...) {
        ::close(m_signalFd);
        ::close(m_stopFd);
        throw;
    }
}

SignalEvents::~SignalEvents() {
    const std::uint64_t one = 1;
    while (::write(m_stopFd, &one, sizeof(one)) < 0 && errno == EINTR) {
    }
    m_thread.join();
    ::close(m_signalFd);
    ::close(m_stopFd);
}

void SignalEvents::Watch() {
    pollfd fds[2] = {{m_signalFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLNVAL)) != 0)
            return;
        signalfd_siginfo info{};
        if (::read(m_signalFd, &info, sizeof(info)) != sizeof(info))
            continue;
        if (info.ssi_signo == SIGUSR1)
            m_saveSignalled = true;
        SetEvent(info.ssi_signo == SIGUSR1 ? m_saveEvent : m_cancelEvent);
    }
}
