#pragma once
// Checks HEVC parameter sets before they reach the MP4 writer, which reads them again to describe the stream
// and does not guard against every malformed set: an SPS that runs out inside its short-term reference
// picture sets makes it count billions of pictures.

#include "BitReader.h"

#include <cstdint>
#include <span>

// A VPS, SPS or PPS unit (with its two-byte header) whose fields lie within its bytes and within the
// standard's ranges, as far as the writer reads them.
bool IsSoundHevcParameterSet(std::span<const std::uint8_t> unit);

// profile_tier_level( 1, maxSubLayersMinus1 ) of a VPS or SPS.
void SkipHevcProfileTierLevel(BitReader& bits, std::uint32_t maxSubLayersMinus1);
