#include "AnnexB.h"

namespace {

// Offset of the next three-byte start code (00 00 01) at or after `from`, or the stream size.
std::size_t FindStartCode(std::span<const std::uint8_t> stream, std::size_t from) {
    for (std::size_t i = from; i + 3 <= stream.size(); ++i) {
        if (stream[i + 2] > 1) {
            i += 2;
            continue;
        }
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1)
            return i;
    }
    return stream.size();
}

} // namespace

std::vector<std::span<const std::uint8_t>> SplitAnnexB(std::span<const std::uint8_t> stream) {
    std::vector<std::span<const std::uint8_t>> units;
    std::size_t start = FindStartCode(stream, 0);
    while (start < stream.size()) {
        const std::size_t begin = start + 3;
        const std::size_t next = FindStartCode(stream, begin);
        std::size_t end = next;
        // Zero bytes before the next start code belong to it (four-byte start codes, trailing zeros).
        while (end > begin && stream[end - 1] == 0)
            --end;
        if (end > begin)
            units.push_back(stream.subspan(begin, end - begin));
        start = next;
    }
    return units;
}

std::vector<std::uint8_t> UnescapeNalUnit(std::span<const std::uint8_t> unit) {
    std::vector<std::uint8_t> raw;
    raw.reserve(unit.size());
    int zeros = 0;
    for (const std::uint8_t byte : unit) {
        if (zeros >= 2 && byte == 3) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        raw.push_back(byte);
    }
    return raw;
}
