#include "FramePacer.h"

#include <pyx/CaptureClock.h>

#include <algorithm>

namespace {

// A capture asked for no particular rate runs at 60 frames/s.
constexpr std::int32_t DefaultFrameRate = 60;

} // namespace

FramePacer::FramePacer(std::int32_t frameRate)
    : m_period(pyx::FramesDuration(1, frameRate > 0 ? frameRate : DefaultFrameRate)) {}

bool FramePacer::Tick() { return Tick(pyx::CaptureClock::now().time_since_epoch().count()); }

bool FramePacer::Tick(std::int64_t nowNanoseconds) {
    if (m_first) {
        m_first = false;
        m_last = nowNanoseconds;
        m_firedAt = nowNanoseconds;
        return true;
    }
    const std::int64_t period = std::chrono::nanoseconds(m_period).count();
    if (nowNanoseconds - m_last < period)
        return false;
    // The schedule keeps its phase: were each firing's lateness carried on, a source running at the frame
    // rate would drift behind it and lose a frame every time the lateness added up to a period. The schedule
    // lags the firings by at most half a period, so two firings are never closer than that.
    m_last = std::max(m_last + period, nowNanoseconds - period / 2);
    m_firedAt = nowNanoseconds;
    return true;
}
