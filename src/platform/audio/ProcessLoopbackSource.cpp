#include "ProcessLoopbackSource.h"

#include "ProcessTree.h"
#include <pyx/CaptureClock.h>

#include <algorithm>
#include <chrono>
#include <functional>

namespace {

constexpr std::chrono::milliseconds FragmentLatency{10};
constexpr std::chrono::milliseconds OpenTimeout{2000};
// What a stream holds before it joins the mix: a few fragments, against the server's uneven pace.
constexpr std::size_t PrimeMilliseconds = 30;
// A stream further behind than this (the server handed over a long burst) is brought back to the prime
// level by dropping its oldest frames, so that it does not lag the picture.
constexpr std::size_t MaximumDelayMilliseconds = 200;

} // namespace

ProcessLoopbackSource::ProcessLoopbackSource(CapturePacketQueue& queue, const pulse::SinkFormat& format)
    : m_queue(queue), m_channels(format.channels),
      m_primeFrames(std::size_t{format.samplesPerSecond} * PrimeMilliseconds / 1000),
      m_maximumFrames(std::size_t{format.samplesPerSecond} * MaximumDelayMilliseconds / 1000),
      m_clock(format.samplesPerSecond) {}

ProcessLoopbackSource::~ProcessLoopbackSource() = default;

std::unique_ptr<ProcessLoopbackSource> ProcessLoopbackSource::Open(pulse::SoundServer& server,
                                                                   const pulse::SinkFormat& format,
                                                                   DWORD processTree,
                                                                   CapturePacketQueue& queue) {
    std::unique_ptr<ProcessLoopbackSource> source(new ProcessLoopbackSource(queue, format));
    ProcessLoopbackSource* target = source.get();
    pulse::PlaybackHandlers handlers;
    handlers.follows = [processTree](std::uint32_t processId) {
        return IsInProcessTree(processId, processTree);
    };
    handlers.frames = [target](std::uint32_t stream, const void* frames, std::size_t frameCount) {
        target->OnFrames(stream, frames, frameCount);
    };
    handlers.ended = [target](std::uint32_t stream) {
        target->OnEnded(stream);
    };
    source->m_follower = server.FollowPlayback(format, FragmentLatency, std::move(handlers), OpenTimeout);
    if (!source->m_follower)
        return nullptr;
    return source;
}

bool ProcessLoopbackSource::Start() {
    {
        std::lock_guard lock(m_mutex);
        m_running = true;
        m_clock.Start(pyx::CaptureTime().count());
    }
    // Outside the lock: the server's thread holds the connection while it hands frames in.
    return m_follower->SetRunning(true);
}

bool ProcessLoopbackSource::Stop() {
    {
        std::lock_guard lock(m_mutex);
        MixUntil(pyx::CaptureTime().count());
        m_running = false;
        m_streams.clear();
    }
    return m_follower->SetRunning(false);
}

void ProcessLoopbackSource::Produce() {
    std::lock_guard lock(m_mutex);
    MixUntil(pyx::CaptureTime().count());
}

bool ProcessLoopbackSource::IsInvalidated() const { return m_follower->IsFailed(); }

void ProcessLoopbackSource::OnFrames(std::uint32_t stream, const void* frames, std::size_t frameCount) {
    std::lock_guard lock(m_mutex);
    // Frames still in flight when the capture was stopped belong to no capture.
    if (!m_running)
        return;
    StreamFrames& pending = m_streams[stream];
    pending.ended = false;
    const std::size_t count = frameCount * m_channels;
    if (frames == nullptr) {
        // Frames the server could not deliver keep their place as silence.
        pending.samples.insert(pending.samples.end(), count, 0.0f);
    } else {
        const auto* samples = static_cast<const float*>(frames);
        pending.samples.insert(pending.samples.end(), samples, samples + count);
    }
    if (pending.samples.size() > m_maximumFrames * m_channels)
        pending.samples.erase(pending.samples.begin(),
                              pending.samples.end() -
                                  static_cast<std::ptrdiff_t>(m_primeFrames * m_channels));
}

void ProcessLoopbackSource::OnEnded(std::uint32_t stream) {
    std::lock_guard lock(m_mutex);
    const auto found = m_streams.find(stream);
    if (found == m_streams.end())
        return;
    // What it played last is still mixed.
    found->second.ended = true;
    if (found->second.samples.empty())
        m_streams.erase(found);
}

void ProcessLoopbackSource::MixUntil(INT64 now) {
    if (!m_running)
        return;
    const FrameClock::Due due = m_clock.Advance(now);
    if (due.frames == 0)
        return;
    m_mix.assign(due.frames * m_channels, 0.0f);
    for (auto stream = m_streams.begin(); stream != m_streams.end();) {
        StreamFrames& pending = stream->second;
        if (!pending.primed)
            pending.primed = pending.ended || pending.samples.size() >= m_primeFrames * m_channels;
        if (pending.primed) {
            const std::size_t taken = std::min(pending.samples.size(), m_mix.size());
            std::transform(m_mix.begin(), m_mix.begin() + static_cast<std::ptrdiff_t>(taken),
                           pending.samples.begin(), m_mix.begin(), std::plus<float>());
            pending.samples.erase(pending.samples.begin(),
                                  pending.samples.begin() + static_cast<std::ptrdiff_t>(taken));
            // Run dry: it waits for a few fragments again before it is heard.
            if (pending.samples.empty())
                pending.primed = false;
        }
        if (pending.ended && pending.samples.empty())
            stream = m_streams.erase(stream);
        else
            ++stream;
    }
    m_queue.Write(reinterpret_cast<const BYTE*>(m_mix.data()), due.frames, due.endTime);
}
