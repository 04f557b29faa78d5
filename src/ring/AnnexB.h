#pragma once
// NAL units of an H.264/HEVC Annex B byte stream.

#include <cstdint>
#include <span>
#include <vector>

// The units between start codes, without the start codes and without trailing zero bytes.
std::vector<std::span<const std::uint8_t>> SplitAnnexB(std::span<const std::uint8_t> stream);

// The raw payload of a unit: emulation-prevention bytes (0x03 after two zero bytes) removed.
std::vector<std::uint8_t> UnescapeNalUnit(std::span<const std::uint8_t> unit);
