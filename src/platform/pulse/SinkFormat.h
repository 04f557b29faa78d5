#pragma once
// What the backend tells about the default output: the source that records what it plays, and the format
// that source is read in (32-bit float samples, channels in the WAVE speaker order).

#include <cstdint>
#include <string>

namespace pulse {

struct SinkFormat {
    std::string monitorSource;
    std::uint32_t samplesPerSecond = 0;
    std::uint32_t channels = 0;
    // Bit i set: the channel at speaker position i of the WAVE order (front left = bit 0, front right = bit
    // 1, front centre = bit 2, ...). Channels without such a position have no bit.
    std::uint32_t channelMask = 0;
};

} // namespace pulse
