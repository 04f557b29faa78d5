#include "ExportBenchRing.h"

#include "CaptureRing.h"

#include <fstream>

namespace {

// The 7-byte ADTS header of one AAC-LC frame at 48 kHz, stereo.
void WriteAdtsFrame(std::ofstream& out, const std::vector<std::uint8_t>& frame) {
    const std::size_t length = frame.size() + 7;
    const unsigned char header[7] = {0xFF,
                                     0xF1,
                                     static_cast<unsigned char>((1 << 6) | (3 << 2)),
                                     static_cast<unsigned char>((2 << 6) | (length >> 11)),
                                     static_cast<unsigned char>(length >> 3),
                                     static_cast<unsigned char>(((length & 7) << 5) | 0x1F),
                                     0xFC};
    out.write(reinterpret_cast<const char*>(header), sizeof(header));
    out.write(reinterpret_cast<const char*>(frame.data()), std::streamsize(frame.size()));
}

} // namespace

ExportBenchRing MakeExportBenchRing(const std::filesystem::path& folder, double seconds) {
    std::filesystem::create_directories(folder);
    ExportBenchRing files{folder / "ring", folder / "ring.h264", folder / "ring.aac", 0};
    const auto complete = folder / "complete";
    if (std::filesystem::exists(complete)) {
        for (unsigned segment = 0; segment < 2; ++segment)
            files.bytes += std::filesystem::file_size(files.ring.string() + std::to_string(segment));
        return files;
    }

    const VideoSettings video{"libx264", 1920, 1080, 60, 120, 5'000'000};
    const auto packets = EncodeCapture(video, AudioSettings{}, seconds);
    // A segment as long as the recording: everything stays in segment 0 and is replayed.
    const auto written =
        WriteCaptureRing(files.ring.wstring(), static_cast<std::uint32_t>(seconds) + 1, packets);

    // The same packets the ring holds, in the same order.
    std::ofstream videoOut(files.video, std::ios::binary | std::ios::trunc);
    std::ofstream audioOut(files.audio, std::ios::binary | std::ios::trunc);
    std::size_t next = 0;
    for (const EncodedPacket& packet : packets) {
        if (next == written.size())
            break;
        const RingPacketHeader header = CaptureRecordHeader(packet);
        if (header.timestamp != written[next].header.timestamp ||
            header.flags != written[next].header.flags || packet.frame != written[next].frame)
            continue;
        ++next;
        files.bytes += packet.data.size() + 16;
        if (packet.kind == EncodedPacket::Video)
            videoOut.write(reinterpret_cast<const char*>(packet.data.data()),
                           std::streamsize(packet.data.size()));
        else
            WriteAdtsFrame(audioOut, packet.data);
    }
    std::ofstream(complete) << "ok\n";
    return files;
}
