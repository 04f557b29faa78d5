#pragma once
// What a video key frame of the ring says about its stream: the codec, the picture size and the parameter
// sets, read from the access unit itself (the encoders repeat their parameter sets at every key frame).

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

enum class VideoCodec { H264, Hevc };

struct KeyFrameInfo {
    VideoCodec codec = VideoCodec::H264;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // The parameter set units (H.264: SPS, PPS; HEVC: VPS, SPS, PPS) in Annex B form with 4-byte start codes.
    std::vector<std::uint8_t> parameterSets;
};

// Empty when the access unit holds no complete, readable set of parameter sets of either codec (for HEVC, a
// malformed one among them makes it unreadable).
std::optional<KeyFrameInfo> ProbeKeyFrame(std::span<const std::uint8_t> accessUnit);

// Whether an HEVC access unit carries a parameter set that is not sound: its pictures cannot be decoded as
// they stand, and the set must not reach the MP4 writer.
bool HasMalformedHevcParameterSets(std::span<const std::uint8_t> accessUnit);
