#include "RingFuzzInput.h"

#include "ring/RingPaths.h"

#include <algorithm>
#include <cstring>

RingFuzzFiles UnpackRingFuzzInput(const std::uint8_t* data, std::size_t size) {
    RingFuzzFiles files;
    constexpr std::size_t HeaderSize = 4 * sizeof(std::uint32_t);
    if (size < HeaderSize)
        return files;
    std::size_t at = HeaderSize;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::uint32_t length = 0;
        std::memcpy(&length, data + i * sizeof length, sizeof length);
        const std::size_t taken = std::min<std::size_t>(length, size - at);
        files[i].assign(data + at, data + at + taken);
        at += taken;
    }
    return files;
}

std::vector<std::uint8_t> PackRingFuzzInput(const RingFuzzFiles& files) {
    std::vector<std::uint8_t> input;
    for (const auto& file : files) {
        const auto length = static_cast<std::uint32_t>(file.size());
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&length);
        input.insert(input.end(), bytes, bytes + sizeof length);
    }
    for (const auto& file : files)
        input.insert(input.end(), file.begin(), file.end());
    return input;
}

std::array<std::filesystem::path, 4> RingFuzzPaths(const std::wstring& name) {
    return {RingDataPath(name, 0), RingIndexPath(name, 0), RingDataPath(name, 1), RingIndexPath(name, 1)};
}
