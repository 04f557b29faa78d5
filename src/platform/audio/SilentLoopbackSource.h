#pragma once
// The stand-in device's source: silence at real-time pace, written when the reader looks (so no thread
// paces it), until a sound server with an output becomes reachable.

#include "CapturePacketQueue.h"
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
    const UINT32 m_samplesPerSecond;
    std::mutex m_mutex;
    bool m_running = false;
    // Frames are due from the clock: m_startFrames at m_startTime, then one per sample period.
    INT64 m_startTime = 0;
    UINT64 m_startFrames = 0;
    UINT64 m_producedFrames = 0;
    pulse::DefaultSinkWatch m_watch;
};
