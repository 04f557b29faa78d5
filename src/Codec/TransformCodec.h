#pragma once
// The codec a vendor transform class is built for, as its constructor options name it.

#include <cstdint>

namespace kiv::mfcodec {

enum class TransformCodec : std::uint8_t { H264 = 0, HEVC = 1, AV1 = 2, INVALID = 0xFF };

// The name the timing lines show.
constexpr const char* TransformCodecName(TransformCodec codec) {
    switch (codec) {
    case TransformCodec::H264:
        return "H.264";
    case TransformCodec::HEVC:
        return "HEVC";
    case TransformCodec::AV1:
        return "AV1";
    default:
        return "INVALID";
    }
}

} // namespace kiv::mfcodec
