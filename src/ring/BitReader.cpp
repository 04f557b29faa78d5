#include "BitReader.h"

std::uint32_t BitReader::Bits(unsigned count) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i) {
        std::uint32_t bit = 0;
        if (m_position / 8 < m_data.size())
            bit = (m_data[m_position / 8] >> (7 - m_position % 8)) & 1;
        else
            m_overrun = true;
        ++m_position;
        value = (value << 1) | bit;
    }
    return value;
}

void BitReader::Skip(unsigned count) {
    m_position += count;
    if (m_position > m_data.size() * 8)
        m_overrun = true;
}

std::uint32_t BitReader::UnsignedGolomb() {
    unsigned leadingZeros = 0;
    while (!Flag()) {
        // 32 zeros cannot start a value that fits, and an overrun reads zeros forever.
        if (++leadingZeros >= 32 || m_overrun) {
            m_overrun = true;
            return 0;
        }
    }
    return ((1u << leadingZeros) - 1) + Bits(leadingZeros);
}

std::int32_t BitReader::SignedGolomb() {
    const std::uint32_t code = UnsignedGolomb();
    const auto magnitude = static_cast<std::int32_t>((code + 1) / 2);
    return (code & 1) ? magnitude : -magnitude;
}
