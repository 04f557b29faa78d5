#pragma once
// The capture clock's readings in the units the capture code counts in.

#include <pyx/CaptureClock.h>

#include <chrono>
#include <cstdint>

class MonotonicClock {
public:
    static std::int64_t Nanoseconds() { return pyx::CaptureClock::now().time_since_epoch().count(); }
    static std::int64_t HundredNanoseconds() { return pyx::CaptureTime().count(); }
    static std::int64_t Milliseconds() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   pyx::CaptureClock::now().time_since_epoch())
            .count();
    }
};
