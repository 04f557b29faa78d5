#include "SilentLoopbackSource.h"

#include <chrono>

namespace {

constexpr UINT64 HundredNanosecondsPerSecond = 10'000'000;
// How often to look for a sound server that came up.
constexpr std::chrono::milliseconds WatchInterval{1000};

// value × numerator / denominator, truncated, without overflowing for captures of any length.
UINT64 ScaleExactly(UINT64 value, UINT64 numerator, UINT64 denominator) {
    return value / denominator * numerator + value % denominator * numerator / denominator;
}

} // namespace

SilentLoopbackSource::SilentLoopbackSource(CapturePacketQueue& queue, UINT32 samplesPerSecond)
    : m_queue(queue), m_samplesPerSecond(samplesPerSecond), m_watch(WatchInterval) {}

bool SilentLoopbackSource::Start() {
    std::lock_guard lock(m_mutex);
    m_running = true;
    m_startTime = PerformanceCounterHundredNanoseconds();
    m_startFrames = m_producedFrames;
    return true;
}

bool SilentLoopbackSource::Stop() {
    std::lock_guard lock(m_mutex);
    ProduceUntil(PerformanceCounterHundredNanoseconds());
    m_running = false;
    return true;
}

void SilentLoopbackSource::Produce() {
    std::lock_guard lock(m_mutex);
    ProduceUntil(PerformanceCounterHundredNanoseconds());
}

bool SilentLoopbackSource::IsInvalidated() const { return m_watch.SinkAppeared(); }

void SilentLoopbackSource::ProduceUntil(INT64 now) {
    if (!m_running || now <= m_startTime)
        return;
    const UINT64 elapsed = static_cast<UINT64>(now - m_startTime);
    const UINT64 due = m_startFrames + ScaleExactly(elapsed, m_samplesPerSecond, HundredNanosecondsPerSecond);
    if (due <= m_producedFrames)
        return;
    // The end time is when the last frame was due, not when the reader happened to look.
    const INT64 endTime =
        m_startTime + static_cast<INT64>(
                          ScaleExactly(due - m_startFrames, HundredNanosecondsPerSecond, m_samplesPerSecond));
    m_queue.Write(nullptr, due - m_producedFrames, endTime);
    m_producedFrames = due;
}
