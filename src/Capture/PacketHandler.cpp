#include "PacketHandler.h"

#include "Util/Logger.h"
#include "ring/RingTime.h"
#include <mfapi.h>

#include <algorithm>

void PacketHandler::Start(RingFile* ring, std::uint32_t pendingBaseTime) {
    std::lock_guard lock(m_mutex);
    m_ring = ring;
    m_pendingBaseTime = pendingBaseTime;
    m_offset = 0;
    m_latestEndTime = 0;
    m_lastVideoTime = -1;
    m_wroteAny = false;
    m_videoStarted = false;
    m_audioSeen = false;
    m_writeFailing = false;
    m_switchFailing = false;
    m_keyFrameRequested = false;
}

void PacketHandler::SetKeyFrameRequest(std::function<void()> request) {
    std::lock_guard lock(m_mutex);
    m_keyFrameRequest = std::move(request);
}

std::uint32_t PacketHandler::Stop(LONGLONG stopTime, LONGLONG maxHold) {
    std::lock_guard lock(m_mutex);
    m_ring = nullptr;
    if (m_wroteAny && m_lastVideoTime >= 0 && stopTime > m_lastVideoTime) {
        const LONGLONG held = std::min(stopTime, m_lastVideoTime + maxHold);
        const std::uint32_t end = HnsToRingTicks(std::uint64_t(held)) + m_offset;
        if (RingTimeBefore(m_latestEndTime, end))
            m_latestEndTime = end;
    }
    return m_latestEndTime;
}

std::optional<RingClockAnchor> PacketHandler::Anchor(LONGLONG startTime) const {
    std::lock_guard lock(m_mutex);
    if (!m_wroteAny)
        return std::nullopt;
    return RingClockAnchor{m_firstRingTime, (startTime + m_firstSampleTime) * 100};
}

bool PacketHandler::WaitForVideoFrom(LONGLONG time, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_ring != nullptr && m_videoStarted && m_videoWritten.wait_for(lock, timeout, [&] {
        return m_ring == nullptr || m_lastVideoTime >= time;
    }) && m_ring != nullptr;
}

GenericGrabberSinkCallback::Function PacketHandler::SinkFunction(RingStreamKind kind) {
    return [this, kind](REFGUID, DWORD, LONGLONG time, LONGLONG duration, const BYTE* data, DWORD size,
                        IMFAttributes* attributes) {
        OnPacket(kind, time, duration, data, size, attributes);
    };
}

PacketHandler::Gate PacketHandler::PassesGate(RingStreamKind kind, bool keyFrame) {
    if (kind == RingStreamKind::Audio) {
        m_audioSeen = true;
        return m_videoStarted ? Gate::Pass : Gate::Hold;
    }
    if (m_withAudio && !m_audioSeen)
        return Gate::Hold;
    if (!m_videoStarted && !keyFrame)
        return Gate::HoldForKeyFrame;
    m_videoStarted = true;
    return Gate::Pass;
}

void PacketHandler::OnPacket(RingStreamKind kind, LONGLONG time, LONGLONG duration, const BYTE* data,
                             DWORD size, IMFAttributes* attributes) {
    UINT32 cleanPoint = 0;
    const bool keyFrame = attributes != nullptr &&
                          SUCCEEDED(attributes->GetUINT32(MFSampleExtension_CleanPoint, &cleanPoint)) &&
                          cleanPoint != 0;
    std::uint32_t time90 = HnsToRingTicks(std::uint64_t(time));
    const std::uint32_t duration90 = HnsToRingTicks(std::uint64_t(duration));
    const std::uint32_t flags = RingPacketFlags(kind, keyFrame);

    std::unique_lock lock(m_mutex);
    // A packet that arrives after the recording stopped has nowhere to go.
    if (m_ring == nullptr)
        return;
    const Gate gate = PassesGate(kind, keyFrame);
    // Once audio flows only a video key frame is missing: it is asked for at once, as a still window's next
    // frame may be a while away.
    const bool waitsForKeyFrame =
        gate == Gate::HoldForKeyFrame || (kind == RingStreamKind::Audio && gate == Gate::Hold);
    if (waitsForKeyFrame && !m_keyFrameRequested && m_keyFrameRequest) {
        m_keyFrameRequested = true;
        const std::function<void()> request = m_keyFrameRequest;
        lock.unlock();
        request();
        return;
    }
    if (gate != Gate::Pass)
        return;
    if (m_pendingBaseTime != 0) {
        m_offset = m_pendingBaseTime - time90;
        m_pendingBaseTime = 0;
    }
    time90 += m_offset;
    // The end times wrap with the ring's timeline.
    const std::uint32_t end = time90 + duration90;
    if (!m_wroteAny || RingTimeBefore(m_latestEndTime, end))
        m_latestEndTime = end;
    if (!m_wroteAny) {
        m_firstRingTime = time90;
        m_firstSampleTime = time;
    }
    m_wroteAny = true;
    if (kind == RingStreamKind::Video) {
        m_lastVideoTime = time;
        m_videoWritten.notify_all();
    }
    const int result = m_ring->Write(RingPacketHeader{time90, duration90, size, flags}, data, size);
    // Each said once per run of failures, so a full disk does not flood the log.
    const bool switchFailed = result == RingFile::WriteSwitchFailed;
    if (switchFailed && !m_switchFailing)
        LogError("ring segment switch failed, the segment grows on: timestamp(%u)", time90);
    const bool failed = result != 0 && !switchFailed;
    if (failed && !m_writeFailing)
        LogError("ring write failed: timestamp(%u), size(%u)", time90, static_cast<unsigned>(size));
    m_writeFailing = failed;
    m_switchFailing = switchFailed;
}
