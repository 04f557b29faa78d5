#pragma once
// Turns the encoded samples of both grabber sinks into ring records. The start is gated so that a recording
// begins with the first video key frame encoded after audio is flowing, or at once when the capture records
// no audio (delta frames before it could not be decoded; a key frame is asked for, as soon as audio flows,
// so that little is lost),
// and the first written packet is moved to a pending base time so that a restarted capture continues the
// previous one's timeline. One mutex serialises both sinks' packets and the start and stop of a recording.

#include "Capture/VideoCaptureControl.h"
#include "Media/GenericGrabberSinkCallback.h"
#include "ring/RingFile.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class PacketHandler {
public:
    // withAudio: whether an audio stream feeds the handler, and so whether the start waits for it.
    explicit PacketHandler(bool withAudio = true) : m_withAudio(withAudio) {}

    // Writes to `ring` from now on; `pendingBaseTime` (90 kHz ticks, 0 for none) is where the first written
    // packet goes.
    void Start(RingFile* ring, std::uint32_t pendingBaseTime);
    // Forgets the ring, so packets still arriving are discarded; returns the latest packet end time on the
    // wrapping timeline, 0 when nothing was written. A still picture stands until the stop (`stopTime`, on
    // the packets' clock), but no longer than `maxHold` after the last video packet began, as its repeat
    // would have come by then (both 100-ns units; a negative stop time leaves the end as the packets give).
    std::uint32_t Stop(LONGLONG stopTime = -1, LONGLONG maxHold = 0);

    // Waits until a video packet from `time` on (the packets' clock) is written, at most `timeout`; false
    // when none came, or the recording has not started.
    bool WaitForVideoFrom(LONGLONG time, std::chrono::milliseconds timeout);
    // The first written packet placed on the capture clock, its sample time counted from `startTime` (100-ns
    // units of the capture clock); none while nothing was written.
    std::optional<RingClockAnchor> Anchor(LONGLONG startTime) const;

    void OnPacket(RingStreamKind kind, LONGLONG time, LONGLONG duration, const BYTE* data, DWORD size,
                  IMFAttributes* attributes);
    // Called (outside the lock) when the start gate passes over a delta frame, to have the next one be a key
    // frame.
    void SetKeyFrameRequest(std::function<void()> request);

    // The sink function of the stream of `kind`.
    GenericGrabberSinkCallback::Function SinkFunction(RingStreamKind kind);

private:
    enum class Gate { Pass, Hold, HoldForKeyFrame };
    // Called under the lock: whether the start gate lets the packet through.
    Gate PassesGate(RingStreamKind kind, bool keyFrame);

    const bool m_withAudio;
    mutable std::mutex m_mutex;
    std::condition_variable m_videoWritten;
    RingFile* m_ring = nullptr;
    std::uint32_t m_pendingBaseTime = 0;
    std::uint32_t m_offset = 0;
    std::uint32_t m_latestEndTime = 0;
    std::uint32_t m_firstRingTime = 0;
    LONGLONG m_firstSampleTime = 0;
    LONGLONG m_lastVideoTime = -1; // the latest video packet's start, on the packets' clock
    bool m_wroteAny = false;
    bool m_videoStarted = false;
    bool m_audioSeen = false;
    bool m_writeFailing = false;
    bool m_switchFailing = false;
    bool m_keyFrameRequested = false;
    std::function<void()> m_keyFrameRequest;
};
