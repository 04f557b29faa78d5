#include <pyx/CaptureClock.h>

#include <ctime>

namespace pyx {

// CLOCK_MONOTONIC: steady, and not moved when the wall-clock time is set.
CaptureClock::time_point CaptureClock::now() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return time_point(std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec));
}

} // namespace pyx
