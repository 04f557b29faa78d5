#pragma once
// Writes encoded packets into a ring through RingFile exactly as the capture's packet handler does: 90 kHz
// ticks truncated from 100-ns times, stream kind and key-frame flags, and the start gate (nothing until audio
// flows, then video first).

#include "TestEncoders.h"

#include "ring/RingPacketHeader.h"

#include <string>
#include <vector>

struct CaptureRingRecord {
    RingPacketHeader header;
    int frame; // the packet's source frame number
};

// The records handed to the ring, in order, their times moved by `baseTime` on the wrapping timeline as a
// restarted capture's are. Throws when the ring cannot be opened.
std::vector<CaptureRingRecord> WriteCaptureRing(const std::wstring& name, std::uint32_t duration,
                                                const std::vector<EncodedPacket>& packets,
                                                std::uint32_t baseTime = 0);

// The packet handler's record header for one packet.
RingPacketHeader CaptureRecordHeader(const EncodedPacket& packet);
