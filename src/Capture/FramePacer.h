#pragma once
// Bounds deliveries to a frame rate: the first tick fires, later ticks fire once a whole period has passed
// since the last scheduled firing. A firing up to half a period late does not move the schedule.

#include <pyx/HundredNanoseconds.h>

#include <cstdint>

class FramePacer {
public:
    explicit FramePacer(std::int32_t frameRate);

    // Period in 100-ns units: 166666 at 60 frames/s.
    std::int64_t Period() const { return m_period.count(); }

    // The capture clock's nanoseconds from which the next tick fires; 0 before the first tick.
    std::int64_t NextFiring() const {
        return m_first ? 0 : m_last + std::chrono::nanoseconds(m_period).count();
    }

    bool Tick();
    // With the time of the capture clock in nanoseconds.
    bool Tick(std::int64_t nowNanoseconds);

    // When the last tick that fired came, in the capture clock's 100-ns units: the time of the frame it let
    // through. Stamped here rather than once the frame is handed on, so that a wait in between (for the
    // device's lock) cannot bring two frames' times closer than the pacing allows.
    std::int64_t LastFiringTime() const { return m_firedAt / 100; }

private:
    pyx::HundredNanoseconds m_period;
    bool m_first = true;
    std::int64_t m_last = 0;
    std::int64_t m_firedAt = 0;
};
