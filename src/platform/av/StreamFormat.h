#pragma once
// Neutral description of one compressed stream and its packets, as the muxing backend takes them.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace av {

enum class Codec { H264, Hevc, Aac, Flac };

struct StreamFormat {
    Codec codec = Codec::H264;
    // Video.
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t frameRateNumerator = 0;
    std::uint32_t frameRateDenominator = 0;
    // Audio.
    std::uint32_t sampleRate = 0;
    std::uint32_t channels = 0;
    std::uint32_t bitsPerSample = 0;
    std::uint32_t bitRate = 0;
    // H.264/HEVC: parameter sets in Annex B form, or empty to take them from the first key frame.
    // AAC: AudioSpecificConfig. FLAC: the STREAMINFO block.
    std::vector<std::uint8_t> codecConfig;

    bool IsVideo() const { return codec == Codec::H264 || codec == Codec::Hevc; }
};

// Times in 100-ns units; video payloads are Annex B access units, audio payloads raw frames.
struct Packet {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::int64_t time = 0;
    std::int64_t duration = 0;
    bool keyFrame = false;
};

enum class MuxResult {
    Ok,
    InvalidArgument,
    InvalidState,
    UnsupportedFormat,
    NoPackets,
    NoCodecConfig,
    IoError,
    OutOfMemory,
    // The muxing library could not be loaded.
    Unavailable,
};

} // namespace av
