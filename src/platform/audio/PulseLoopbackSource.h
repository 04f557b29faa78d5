#pragma once
// Fills the capture buffer from the sound server's monitor of the default sink. Frames arrive on the server
// connection's thread; while stopped they are dropped.

#include "CapturePacketQueue.h"
#include "LoopbackSource.h"
#include "platform/pulse/SoundServer.h"

#include <atomic>
#include <memory>

class PulseLoopbackSource final : public LoopbackSource {
public:
    // Null when the stream cannot be opened (the server or its sink went away).
    static std::unique_ptr<PulseLoopbackSource>
    Open(pulse::SoundServer& server, const pulse::SinkFormat& format, CapturePacketQueue& queue);
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
