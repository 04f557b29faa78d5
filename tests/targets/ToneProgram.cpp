// pyx-test-tone HZ: plays a sine of HZ on the default sound sink until SIGTERM or SIGINT, a process of its
// own so that tests can have sound come from somewhere else than the program they record. Prints "playing"
// once the tone plays; exits 1 with the reason when it cannot.

#include "TonePlayer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pyx-test-tone HZ\n");
        return 2;
    }
    char* end = nullptr;
    const double hz = std::strtod(argv[1], &end);
    if (*end != '\0' || !(hz > 0 && hz < 24000)) {
        std::fprintf(stderr, "pyx-test-tone: bad frequency %s\n", argv[1]);
        return 2;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    TonePlayer player("pyx-test-tone");
    const std::string error = player.Play(hz);
    if (!error.empty()) {
        std::fprintf(stderr, "pyx-test-tone: %s\n", error.c_str());
        return 1;
    }
    std::printf("playing\n");
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    player.Stop();
    return 0;
}
