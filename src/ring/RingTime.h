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

// Whether `a` comes before `b` on the ring's timeline. The ticks wrap at 2^32 (about 13.25 hours) while a
// recording's ring spans a few hours at most, so the shorter way round between two times is the right one.
constexpr bool RingTimeBefore(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) < 0;
}

inline std::uint32_t HnsToRingTicks(std::uint64_t hns) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(hns * RingTicksPerHns));
}
