#pragma once
// Channel order between the server's channel maps and the WAVE speaker order, where speaker position i is
// bit i of a channel mask and channels come in ascending bit order.

#include <pulse/channelmap.h>

#include <cstdint>

namespace pulse {

// The mask for recording a sink with this map. When every channel has its own WAVE position the channels keep
// their speakers, reordered; otherwise the server's standard WAVE layout for the channel count is used.
std::uint32_t WaveChannelMask(const pa_channel_map& sinkMap);

// The stream map for a mask from WaveChannelMask: the positions of its bits in ascending order, then
// unpositioned channels.
pa_channel_map WaveChannelMap(unsigned channels, std::uint32_t mask);

} // namespace pulse
