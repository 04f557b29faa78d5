#pragma once
// The clock of every capture time: the performance counter converted exactly to nanoseconds.

#include <processthreadsapi.h>

#include <cstdint>

class MonotonicClock {
public:
    static std::int64_t Nanoseconds() {
        LARGE_INTEGER count{};
        LARGE_INTEGER frequency{};
        QueryPerformanceCounter(&count);
        QueryPerformanceFrequency(&frequency);
        const std::int64_t f = frequency.QuadPart;
        return count.QuadPart / f * 1000000000 + count.QuadPart % f * 1000000000 / f;
    }
    static std::int64_t HundredNanoseconds() { return Nanoseconds() / 100; }
    static std::int64_t Milliseconds() { return Nanoseconds() / 1000000; }
};
