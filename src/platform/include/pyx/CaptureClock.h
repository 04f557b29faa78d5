#pragma once
// The clock of every capture time. Frame times, audio packet times, the media session's clock and the pacing
// of deliveries all read it, so that times taken in different places compare. The performance counter
// (QueryPerformanceCounter) counts its nanoseconds.

#include <pyx/HundredNanoseconds.h>

namespace pyx {

struct CaptureClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<CaptureClock>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept;
};

// The capture clock's reading in 100-ns units, truncated: the time of a sample captured now.
inline HundredNanoseconds CaptureTime() {
    return std::chrono::duration_cast<HundredNanoseconds>(CaptureClock::now().time_since_epoch());
}

} // namespace pyx
