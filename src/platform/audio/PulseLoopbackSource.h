#pragma once
// Fills the capture buffer from the sound server's monitor of the default sink. Frames arrive on the server
// connection's thread in fragments of FragmentLatency; while stopped they are dropped.

#include "CapturePacketQueue.h"
#include "LoopbackSource.h"
#include "platform/pulse/SoundServer.h"

#include <atomic>
#include <chrono>
#include <memory>

class PulseLoopbackSource final : public LoopbackSource {
public:
    // Null when the stream cannot be opened (the server or its sink went away).
    static std::unique_ptr<PulseLoopbackSource>
    Open(pulse::SoundServer& server, const pulse::SinkFormat& format, CapturePacketQueue& queue);
    // Long fragments mean few wake-ups here and in the server; packet times come from each fragment's end, so
    // they do not depend on it.
    static constexpr std::chrono::milliseconds FragmentLatency{40};
    // A buffer that holds a fragment, one bunched behind it and the reader's wait of half the buffer.
    static UINT32 MinimumBufferFrames(UINT32 samplesPerSecond);
    ~PulseLoopbackSource() override;

    bool Start() override;
    bool Stop() override;
    bool IsInvalidated() const override;

private:
    explicit PulseLoopbackSource(CapturePacketQueue& queue);
    void OnFrames(const void* frames, std::size_t frameCount);

    CapturePacketQueue& m_queue;
    std::atomic<bool> m_running{false};
    std::unique_ptr<pulse::FrameStream> m_stream;
};
