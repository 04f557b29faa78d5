#pragma once
// Reads the fields of a parameter set: fixed-width bits, most significant first, and Exp-Golomb codes.
// Reading past the end yields zeros and marks the reader as overrun, so a parser checks once at the end.

#include <cstdint>
#include <span>

class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> data) : m_data(data) {}

    std::uint32_t Bits(unsigned count);
    bool Flag() { return Bits(1) != 0; }
    void Skip(unsigned count);
    // ue(v)
    std::uint32_t UnsignedGolomb();
    // se(v)
    std::int32_t SignedGolomb();

    bool Overrun() const { return m_overrun; }

private:
    std::span<const std::uint8_t> m_data;
    std::size_t m_position = 0;
    bool m_overrun = false;
};
