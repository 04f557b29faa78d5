#pragma once
// The capture endpoint buffer: frames from the recording side accumulate in a ring of fixed capacity and are
// read as packets of one device period, with the capture client's semantics. Overflow drops the oldest
// frames and marks the next packet as a discontinuity. Writers and the reader may be on different threads.

#include <audioclient.h>

#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

class CapturePacketQueue {
public:
    CapturePacketQueue(UINT32 capacityFrames, UINT32 packetFrames, UINT32 frameBytes,
                       UINT32 samplesPerSecond);
    CapturePacketQueue(const CapturePacketQueue&) = delete;
    CapturePacketQueue& operator=(const CapturePacketQueue&) = delete;

    UINT32 CapacityFrames() const { return m_capacityFrames; }
    UINT32 PacketFrames() const { return m_packetFrames; }

    // Appends frames; null data appends silence. endTime: the performance-counter time, in 100-ns units, at
    // which the last of them was recorded.
    void Write(const BYTE* data, UINT64 frames, INT64 endTime);
    // The next frame written follows a gap.
    void MarkDiscontinuity();

    UINT32 NextPacketSize() const;
    // Hands out the next packet (AUDCLNT_S_BUFFER_EMPTY when none is complete); its data stays valid until
    // ReleaseBuffer. data, frames and flags must not be null; the positions may be.
    HRESULT GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition, UINT64* qpcPosition);
    HRESULT ReleaseBuffer(UINT32 frames);
    // Drops everything and starts the positions again at 0; refused while a packet is held.
    HRESULT Clear();

private:
    struct TimeAnchor {
        UINT64 endPosition;
        INT64 endTime;
    };
    struct Packet {
        UINT64 position;
        UINT32 frames;
        INT64 time;
    };

    INT64 Duration(UINT64 frames) const;
    INT64 PacketTime(UINT64 position, UINT32 frames) const;
    void CopyIn(const BYTE* data, UINT64 position, UINT64 frames);
    void CopyOut(UINT64 position, UINT32 frames);
    void DropAnchorsBefore(UINT64 position);

    const UINT32 m_capacityFrames;
    const UINT32 m_packetFrames;
    const UINT32 m_frameBytes;
    const UINT32 m_samplesPerSecond;

    mutable std::mutex m_mutex;
    std::vector<BYTE> m_ring;
    std::vector<BYTE> m_packet;
    // Stream positions in frames; the ring holds [m_readPosition, m_writePosition).
    UINT64 m_readPosition = 0;
    UINT64 m_writePosition = 0;
    // Positions of frames that follow a gap and were not yet handed out in a released packet.
    std::set<UINT64> m_gaps;
    // When the frames up to each write's end were recorded; timestamps are derived from these.
    std::deque<TimeAnchor> m_anchors;
    std::optional<Packet> m_held;
    std::optional<Packet> m_last;
};
