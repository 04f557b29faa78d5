#include "FrameClock.h"

#include <pyx/HundredNanoseconds.h>

void FrameClock::Start(INT64 now) {
    m_startTime = now;
    m_startFrames = m_producedFrames;
}

FrameClock::Due FrameClock::Advance(INT64 now) {
    if (now <= m_startTime)
        return {0, now};
    const pyx::HundredNanoseconds elapsed(now - m_startTime);
    const UINT64 due = m_startFrames + static_cast<UINT64>(pyx::FramesWithin(elapsed, m_samplesPerSecond));
    if (due <= m_producedFrames)
        return {0, now};
    const INT64 endTime =
        m_startTime +
        pyx::FramesDuration(static_cast<INT64>(due - m_startFrames), m_samplesPerSecond).count();
    const UINT64 frames = due - m_producedFrames;
    m_producedFrames = due;
    return {frames, endTime};
}
