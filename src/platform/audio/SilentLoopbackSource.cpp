#include "SilentLoopbackSource.h"

#include <pyx/CaptureClock.h>

#include <chrono>

namespace {

// How often to look for a sound server that came up.
constexpr std::chrono::milliseconds WatchInterval{1000};

} // namespace

SilentLoopbackSource::SilentLoopbackSource(CapturePacketQueue& queue, UINT32 samplesPerSecond)
    : m_queue(queue), m_samplesPerSecond(samplesPerSecond), m_watch(WatchInterval) {}

bool SilentLoopbackSource::Start() {
    std::lock_guard lock(m_mutex);
    m_running = true;
    m_startTime = pyx::CaptureTime().count();
    m_startFrames = m_producedFrames;
    return true;
}

bool SilentLoopbackSource::Stop() {
    std::lock_guard lock(m_mutex);
    ProduceUntil(pyx::CaptureTime().count());
    m_running = false;
    return true;
}

void SilentLoopbackSource::Produce() {
    std::lock_guard lock(m_mutex);
    ProduceUntil(pyx::CaptureTime().count());
}

bool SilentLoopbackSource::IsInvalidated() const { return m_watch.SinkAppeared(); }

void SilentLoopbackSource::ProduceUntil(INT64 now) {
    if (!m_running || now <= m_startTime)
        return;
    const pyx::HundredNanoseconds elapsed(now - m_startTime);
    const UINT64 due = m_startFrames + static_cast<UINT64>(pyx::FramesWithin(elapsed, m_samplesPerSecond));
    if (due <= m_producedFrames)
        return;
    // The end time is when the last frame was due, not when the reader happened to look.
    const INT64 endTime =
        m_startTime +
        pyx::FramesDuration(static_cast<INT64>(due - m_startFrames), m_samplesPerSecond).count();
    m_queue.Write(nullptr, due - m_producedFrames, endTime);
    m_producedFrames = due;
}
