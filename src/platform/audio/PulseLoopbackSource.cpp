#include "PulseLoopbackSource.h"

#include <pyx/CaptureClock.h>

#include <chrono>

namespace {

constexpr UINT32 BufferFragments = 3;
constexpr std::chrono::milliseconds OpenTimeout{2000};

} // namespace

UINT32 PulseLoopbackSource::MinimumBufferFrames(UINT32 samplesPerSecond) {
    return BufferFragments * static_cast<UINT32>(pyx::FramesCovering(FragmentLatency, samplesPerSecond));
}

PulseLoopbackSource::PulseLoopbackSource(CapturePacketQueue& queue) : m_queue(queue) {}

PulseLoopbackSource::~PulseLoopbackSource() = default;

std::unique_ptr<PulseLoopbackSource> PulseLoopbackSource::Open(pulse::SoundServer& server,
                                                               const pulse::SinkFormat& format,
                                                               CapturePacketQueue& queue) {
    std::unique_ptr<PulseLoopbackSource> source(new PulseLoopbackSource(queue));
    PulseLoopbackSource* target = source.get();
    source->m_stream = server.OpenMonitor(
        format, FragmentLatency,
        [target](const void* frames, std::size_t frameCount) { target->OnFrames(frames, frameCount); },
        OpenTimeout);
    if (!source->m_stream)
        return nullptr;
    return source;
}

bool PulseLoopbackSource::Start() {
    m_running.store(true, std::memory_order_release);
    return m_stream->SetRunning(true);
}

bool PulseLoopbackSource::Stop() {
    m_running.store(false, std::memory_order_release);
    return m_stream->SetRunning(false);
}

bool PulseLoopbackSource::IsInvalidated() const { return m_stream->IsFailed(); }

void PulseLoopbackSource::OnFrames(const void* frames, std::size_t frameCount) {
    // Frames still in flight when the stream was paused belong to no capture.
    if (!m_running.load(std::memory_order_acquire))
        return;
    if (frames == nullptr)
        m_queue.MarkDiscontinuity();
    m_queue.Write(static_cast<const BYTE*>(frames), frameCount, pyx::CaptureTime().count());
}
