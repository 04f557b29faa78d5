#include "CaptureRing.h"

#include "ring/RingFile.h"
#include "ring/RingTime.h"

#include <stdexcept>

RingPacketHeader CaptureRecordHeader(const EncodedPacket& packet) {
    RingPacketHeader header{};
    header.timestamp = HnsToRingTicks(std::uint64_t(packet.time));
    header.duration = HnsToRingTicks(std::uint64_t(packet.duration));
    header.size = static_cast<std::uint32_t>(packet.data.size());
    header.flags =
        RingPacketFlags(packet.kind == EncodedPacket::Audio ? RingStreamKind::Audio : RingStreamKind::Video,
                        packet.cleanPoint);
    return header;
}

std::vector<CaptureRingRecord> WriteCaptureRing(const std::wstring& name, std::uint32_t duration,
                                                const std::vector<EncodedPacket>& packets,
                                                std::uint32_t baseTime) {
    RingFile ring;
    if (!ring.OpenForWrite(name, duration))
        throw std::runtime_error("cannot open the ring for writing");
    std::vector<CaptureRingRecord> written;
    bool audioSeen = false;
    bool videoStarted = false;
    for (const EncodedPacket& packet : packets) {
        if (packet.kind == EncodedPacket::Audio) {
            audioSeen = true;
            if (!videoStarted)
                continue;
        } else {
            if (!audioSeen)
                continue;
            videoStarted = true;
        }
        RingPacketHeader header = CaptureRecordHeader(packet);
        header.timestamp += baseTime;
        if (ring.Write(header, packet.data.data(), header.size) != 0)
            throw std::runtime_error("ring write failed");
        written.push_back({header, packet.frame});
    }
    ring.Close();
    return written;
}
