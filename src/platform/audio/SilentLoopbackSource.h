#pragma once
// The stand-in device's source: silence at real-time pace, written when the reader looks (so no thread
// paces it), until a sound server with an output becomes reachable.

#include "CapturePacketQueue.h"
#include "FrameClock.h"
#include "LoopbackSource.h"
#include "platform/pulse/DefaultSinkWatch.h"

#include <mutex>

class SilentLoopbackSource final : public LoopbackSource {
public:
    SilentLoopbackSource(CapturePacketQueue& queue, UINT32 samplesPerSecond);

    bool Start() override;
    bool Stop() override;
    void Produce() override;
    bool IsInvalidated() const override;

private:
    void ProduceUntil(INT64 now);

    CapturePacketQueue& m_queue;
    std::mutex m_mutex;
    bool m_running = false;
    FrameClock m_clock;
    pulse::DefaultSinkWatch m_watch;
};
