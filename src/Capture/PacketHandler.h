#pragma once
// Turns the encoded samples of both grabber sinks into ring records. The start is gated so that a recording
// begins with the first video key frame encoded after audio is flowing, or at once when the capture records
// no audio (delta frames before it could not be decoded; a key frame is asked for so that little is lost),
// and the first written packet is moved to a pending base time so that a restarted capture continues the
// previous one's timeline. One mutex serialises both sinks' packets and the start and stop of a recording.

#include "Capture/VideoCaptureControl.h"
#include "Media/GenericGrabberSinkCallback.h"
#include "ring/RingFile.h"

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
    // wrapping timeline, 0 when nothing was written.
    std::uint32_t Stop();
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
    RingFile* m_ring = nullptr;
    std::uint32_t m_pendingBaseTime = 0;
    std::uint32_t m_offset = 0;
    std::uint32_t m_latestEndTime = 0;
    std::uint32_t m_firstRingTime = 0;
    LONGLONG m_firstSampleTime = 0;
    bool m_wroteAny = false;
    bool m_videoStarted = false;
    bool m_audioSeen = false;
    bool m_writeFailing = false;
    bool m_switchFailing = false;
    bool m_keyFrameRequested = false;
    std::function<void()> m_keyFrameRequest;
};
