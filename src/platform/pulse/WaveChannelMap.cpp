#include "WaveChannelMap.h"

#include <array>

namespace pulse {

namespace {

// Indexed by WAVE speaker bit.
constexpr std::array<pa_channel_position_t, 18> WavePositions = {
    PA_CHANNEL_POSITION_FRONT_LEFT,
    PA_CHANNEL_POSITION_FRONT_RIGHT,
    PA_CHANNEL_POSITION_FRONT_CENTER,
    PA_CHANNEL_POSITION_LFE,
    PA_CHANNEL_POSITION_REAR_LEFT,
    PA_CHANNEL_POSITION_REAR_RIGHT,
    PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER,
    PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER,
    PA_CHANNEL_POSITION_REAR_CENTER,
    PA_CHANNEL_POSITION_SIDE_LEFT,
    PA_CHANNEL_POSITION_SIDE_RIGHT,
    PA_CHANNEL_POSITION_TOP_CENTER,
    PA_CHANNEL_POSITION_TOP_FRONT_LEFT,
    PA_CHANNEL_POSITION_TOP_FRONT_CENTER,
    PA_CHANNEL_POSITION_TOP_FRONT_RIGHT,
    PA_CHANNEL_POSITION_TOP_REAR_LEFT,
    PA_CHANNEL_POSITION_TOP_REAR_CENTER,
    PA_CHANNEL_POSITION_TOP_REAR_RIGHT,
};

// The WAVE bit of a position; 0 for positions WAVE does not name. Mono plays on the front centre speaker.
std::uint32_t WaveBit(pa_channel_position_t position) {
    if (position == PA_CHANNEL_POSITION_MONO)
        return 1u << 2;
    for (std::size_t bit = 0; bit < WavePositions.size(); ++bit)
        if (WavePositions[bit] == position)
            return 1u << bit;
    return 0;
}

// The mask of the map's positions; 0 when a channel has no WAVE position or shares one.
std::uint32_t DistinctMask(const pa_channel_map& map) {
    std::uint32_t mask = 0;
    for (unsigned i = 0; i < map.channels; ++i) {
        const std::uint32_t bit = WaveBit(map.map[i]);
        if (bit == 0 || (mask & bit) != 0)
            return 0;
        mask |= bit;
    }
    return mask;
}

} // namespace

std::uint32_t WaveChannelMask(const pa_channel_map& sinkMap) {
    if (const std::uint32_t mask = DistinctMask(sinkMap); mask != 0)
        return mask;
    pa_channel_map standard;
    pa_channel_map_init_extend(&standard, sinkMap.channels, PA_CHANNEL_MAP_WAVEEX);
    std::uint32_t mask = 0;
    for (unsigned i = 0; i < standard.channels; ++i)
        mask |= WaveBit(standard.map[i]);
    return mask;
}

pa_channel_map WaveChannelMap(unsigned channels, std::uint32_t mask) {
    pa_channel_map map;
    pa_channel_map_init(&map);
    map.channels = static_cast<std::uint8_t>(channels);
    if (channels == 1 && mask == (1u << 2)) {
        map.map[0] = PA_CHANNEL_POSITION_MONO;
        return map;
    }
    unsigned next = 0;
    for (std::size_t bit = 0; bit < WavePositions.size() && next < channels; ++bit)
        if ((mask & (1u << bit)) != 0)
            map.map[next++] = WavePositions[bit];
    for (unsigned aux = 0; next < channels; ++aux)
        map.map[next++] = static_cast<pa_channel_position_t>(PA_CHANNEL_POSITION_AUX0 + aux);
    return map;
}

} // namespace pulse
