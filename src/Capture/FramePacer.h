#pragma once
// Bounds deliveries to a frame rate: the first tick fires, later ticks fire once a whole period has passed
// since the last scheduled firing. A firing up to half a period late does not move the schedule.

#include <cstdint>

class FramePacer {
public:
    explicit FramePacer(std::int32_t frameRate);

    // Period in 100-ns units: 166666 at 60 frames/s.
    std::int64_t Period() const { return m_period; }

    // Monotonic nanoseconds from which the next tick fires; 0 before the first tick.
    std::int64_t NextFiring() const { return m_first ? 0 : m_last + m_period * 100; }

    bool Tick();
    // With the time of the monotonic clock in nanoseconds.
    bool Tick(std::int64_t nowNanoseconds);

private:
    std::int64_t m_period;
    bool m_first = true;
    std::int64_t m_last = 0;
};
