#include "ProcessGuard.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

sigset_t RecorderSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

void GuardProcessStart() {
    const sigset_t signals = RecorderSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
}

void UnblockProcessSignals() {
    const sigset_t signals = RecorderSignals();
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

void AvoidHugePages() { (void)prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0); }
