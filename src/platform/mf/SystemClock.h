#pragma once
// The clock a media session starts its sinks with: the monotonic clock in 100-ns units.

#include <mfidl.h>

#include <chrono>

inline MFTIME SystemClockNow() {
    using HundredNanoseconds = std::chrono::duration<LONGLONG, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<HundredNanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
