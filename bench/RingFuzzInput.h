#pragma once
// One fuzzer input holds the four files of a ring: four little-endian u32 lengths (data 0, index 0, data 1,
// index 1, each cut to what the input still holds), then the files' bytes in that order.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using RingFuzzFiles = std::array<std::vector<std::uint8_t>, 4>;

RingFuzzFiles UnpackRingFuzzInput(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> PackRingFuzzInput(const RingFuzzFiles& files);

// The ring files of NAME in the order of the input.
std::array<std::filesystem::path, 4> RingFuzzPaths(const std::wstring& name);
