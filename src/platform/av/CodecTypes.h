#pragma once
// Neutral types of the encoding and resampling backends.

#include "StreamFormat.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace av {

enum class CodecStatus {
    Ok,
    Again,       // nothing to hand out until more input arrives
    EndOfStream, // drained: nothing more will come
    InvalidArgument,
    Unsupported, // settings the codec does not take
    OutOfMemory,
    Failed,
};

struct EncodedPacketView {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::int64_t pts = 0;      // in the encoder's time units (frames for video, samples for audio)
    std::int64_t duration = 0; // same units
    bool keyFrame = false;
};

using PacketConsumer = std::function<void(const EncodedPacketView& packet)>;

} // namespace av
