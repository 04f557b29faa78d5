// pyx-video: guards the process start at once, then runs the recorder beside it in the same process. The
// recorder loads a hundred libraries before its main runs; a save signal sent meanwhile would otherwise end
// the process, as a signal's default action does.

#include "ProcessGuard.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char* argv[]) {
    GuardProcessStart();
    (void)argc;
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) {
        std::fprintf(stderr, "pyx-video: cannot find its own path: %s\n", std::strerror(errno));
        return 255;
    }
    path[length] = '\0';
    char* slash = std::strrchr(path, '/');
    const char recorder[] = "pyx-video-recorder";
    if (slash == nullptr || static_cast<std::size_t>(slash + 1 - path) + sizeof(recorder) > sizeof(path)) {
        std::fprintf(stderr, "pyx-video: cannot find the recorder beside %s\n", path);
        return 255;
    }
    std::memcpy(slash + 1, recorder, sizeof(recorder));
    ::execv(path, argv);
    std::fprintf(stderr, "pyx-video: cannot run %s: %s\n", path, std::strerror(errno));
    return 255;
}
