#pragma once
// The ring's 90 kHz ticks and the 100-ns units of media samples. Both directions go through double precision
// and truncate, so 3003 ticks are 333666 units; ticks wrap with the ring's 32-bit timeline.

#include "RingPacketHeader.h"
#include <pyx/HundredNanoseconds.h>

#include <cstdint>

constexpr double RingTicksPerHns = double(RingTicksPerSecond) / pyx::HundredNanosecondsPerSecond;

inline std::int64_t RingTicksToHns(std::uint32_t ticks) {
    return static_cast<std::int64_t>(ticks / RingTicksPerHns);
}

inline std::uint32_t HnsToRingTicks(std::uint64_t hns) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(hns * RingTicksPerHns));
}
