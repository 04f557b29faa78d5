#include "CapturePacketQueue.h"

#include <pyx/HundredNanoseconds.h>

#include <algorithm>
#include <cstring>

CapturePacketQueue::CapturePacketQueue(UINT32 capacityFrames, UINT32 packetFrames, UINT32 frameBytes,
                                       UINT32 samplesPerSecond)
    : m_capacityFrames(capacityFrames), m_packetFrames(packetFrames), m_frameBytes(frameBytes),
      m_samplesPerSecond(samplesPerSecond), m_ring(std::size_t{capacityFrames} * frameBytes),
      m_packet(std::size_t{packetFrames} * frameBytes) {}

INT64 CapturePacketQueue::Duration(UINT64 frames) const {
    return pyx::FramesDuration(static_cast<INT64>(frames), m_samplesPerSecond).count();
}

void CapturePacketQueue::Write(const BYTE* data, UINT64 frames, INT64 endTime) {
    if (frames == 0)
        return;
    std::lock_guard lock(m_mutex);
    const UINT64 end = m_writePosition + frames;
    const UINT64 kept = std::min<UINT64>(frames, m_capacityFrames);
    if (end - m_readPosition > m_capacityFrames) {
        m_readPosition = end - m_capacityFrames;
        // Every earlier gap is folded into this one: the next packet is a discontinuity either way.
        m_gaps.erase(m_gaps.begin(), m_gaps.lower_bound(m_readPosition));
        m_gaps.insert(m_readPosition);
    }
    CopyIn(data == nullptr ? nullptr : data + (frames - kept) * m_frameBytes, end - kept, kept);
    m_writePosition = end;
    m_anchors.push_back({end, endTime});
    DropAnchorsBefore(m_readPosition);
}

void CapturePacketQueue::MarkDiscontinuity() {
    std::lock_guard lock(m_mutex);
    m_gaps.insert(m_writePosition);
}

UINT32 CapturePacketQueue::NextPacketSize() const {
    std::lock_guard lock(m_mutex);
    return m_writePosition - m_readPosition >= m_packetFrames ? m_packetFrames : 0;
}

HRESULT CapturePacketQueue::GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                      UINT64* qpcPosition) {
    *data = nullptr;
    *frames = 0;
    *flags = 0;
    if (devicePosition != nullptr)
        *devicePosition = 0;
    if (qpcPosition != nullptr)
        *qpcPosition = 0;
    std::lock_guard lock(m_mutex);
    if (m_held)
        return AUDCLNT_E_OUT_OF_ORDER;
    if (m_writePosition - m_readPosition < m_packetFrames)
        return AUDCLNT_S_BUFFER_EMPTY;
    const Packet packet{m_readPosition, m_packetFrames, PacketTime(m_readPosition, m_packetFrames)};
    CopyOut(packet.position, packet.frames);
    DWORD packetFlags = 0;
    if (!m_gaps.empty() && *m_gaps.begin() < packet.position + packet.frames)
        packetFlags |= AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY;
    if (std::all_of(m_packet.begin(), m_packet.end(), [](BYTE b) { return b == 0; }))
        packetFlags |= AUDCLNT_BUFFERFLAGS_SILENT;
    m_held = packet;
    m_last = packet;
    *data = m_packet.data();
    *frames = packet.frames;
    *flags = packetFlags;
    if (devicePosition != nullptr)
        *devicePosition = packet.position;
    if (qpcPosition != nullptr)
        *qpcPosition = static_cast<UINT64>(packet.time);
    return S_OK;
}

HRESULT CapturePacketQueue::ReleaseBuffer(UINT32 frames) {
    std::lock_guard lock(m_mutex);
    if (!m_held)
        return AUDCLNT_E_OUT_OF_ORDER;
    if (frames != 0 && frames != m_held->frames)
        return AUDCLNT_E_INVALID_SIZE;
    if (frames != 0) {
        // Overflow may have dropped the packet's frames while it was held; then the reader is already past.
        const UINT64 end = m_held->position + frames;
        m_readPosition = std::max(m_readPosition, end);
        m_gaps.erase(m_gaps.begin(), m_gaps.lower_bound(end));
        DropAnchorsBefore(m_readPosition);
    }
    m_held.reset();
    return S_OK;
}

HRESULT CapturePacketQueue::Clear() {
    std::lock_guard lock(m_mutex);
    if (m_held)
        return AUDCLNT_E_BUFFER_OPERATION_PENDING;
    m_readPosition = 0;
    m_writePosition = 0;
    m_gaps.clear();
    m_anchors.clear();
    m_last.reset();
    return S_OK;
}

INT64 CapturePacketQueue::PacketTime(UINT64 position, UINT32 frames) const {
    if (m_last && m_last->position == position)
        return m_last->time;
    // The write that completed the packet tells when its last frame was recorded; the first came earlier by
    // the frames in between.
    const auto anchor = std::find_if(m_anchors.begin(), m_anchors.end(),
                                     [&](const TimeAnchor& a) { return a.endPosition >= position + frames; });
    INT64 time = anchor->endTime - Duration(anchor->endPosition - position);
    // Frames delivered in a burst would otherwise look older than the packet before them.
    if (m_last)
        time = std::max(time, m_last->time + Duration(m_last->frames));
    return time;
}

void CapturePacketQueue::CopyIn(const BYTE* data, UINT64 position, UINT64 frames) {
    const UINT64 start = position % m_capacityFrames;
    const UINT64 first = std::min<UINT64>(frames, m_capacityFrames - start);
    BYTE* target = m_ring.data() + start * m_frameBytes;
    if (data == nullptr) {
        std::memset(target, 0, first * m_frameBytes);
        std::memset(m_ring.data(), 0, (frames - first) * m_frameBytes);
        return;
    }
    std::memcpy(target, data, first * m_frameBytes);
    std::memcpy(m_ring.data(), data + first * m_frameBytes, (frames - first) * m_frameBytes);
}

void CapturePacketQueue::CopyOut(UINT64 position, UINT32 frames) {
    const UINT64 start = position % m_capacityFrames;
    const UINT64 first = std::min<UINT64>(frames, m_capacityFrames - start);
    std::memcpy(m_packet.data(), m_ring.data() + start * m_frameBytes, first * m_frameBytes);
    std::memcpy(m_packet.data() + first * m_frameBytes, m_ring.data(), (frames - first) * m_frameBytes);
}

void CapturePacketQueue::DropAnchorsBefore(UINT64 position) {
    while (m_anchors.size() > 1 && m_anchors.front().endPosition <= position)
        m_anchors.pop_front();
}
