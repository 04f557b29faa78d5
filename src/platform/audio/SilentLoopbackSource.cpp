#include "SilentLoopbackSource.h"

#include <pyx/CaptureClock.h>

#include <chrono>

namespace {

// How often to look for a sound server that came up.
constexpr std::chrono::milliseconds WatchInterval{1000};

} // namespace

SilentLoopbackSource::SilentLoopbackSource(CapturePacketQueue& queue, UINT32 samplesPerSecond)
    : m_queue(queue), m_clock(samplesPerSecond), m_watch(WatchInterval) {}

bool SilentLoopbackSource::Start() {
    std::lock_guard lock(m_mutex);
    m_running = true;
    m_clock.Start(pyx::CaptureTime().count());
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
    if (!m_running)
        return;
    const FrameClock::Due due = m_clock.Advance(now);
    if (due.frames > 0)
        m_queue.Write(nullptr, due.frames, due.endTime);
}
