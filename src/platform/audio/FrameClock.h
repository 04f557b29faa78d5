#pragma once
// Frames due at real-time pace on the capture clock, for sources that write what the clock says rather than
// what a server hands over: the silent stand-in and the mix of a process tree's streams.

#include <audioclient.h>

class FrameClock {
public:
    explicit FrameClock(UINT32 samplesPerSecond) : m_samplesPerSecond(samplesPerSecond) {}

    // Counts from `now` on (capture-clock time in 100-ns units); frames counted before a restart stay
    // counted.
    void Start(INT64 now);

    struct Due {
        UINT64 frames;
        // When the last of them was due, not when the caller happened to look.
        INT64 endTime;
    };
    // The frames that fell due by `now` since the previous call.
    Due Advance(INT64 now);

private:
    const UINT32 m_samplesPerSecond;
    // Frames are due from m_startTime on: m_startFrames at it, then one per sample period.
    INT64 m_startTime = 0;
    UINT64 m_startFrames = 0;
    UINT64 m_producedFrames = 0;
};
