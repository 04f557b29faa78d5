#pragma once
// What the current input and output types say about a stream, with which of it could be read and what
// changed since the previous record.

#include <guiddef.h>

#include <cstdint>

namespace kiv::mfcodec {

struct StreamSpecs {
    // Bits of `present` and `changed`.
    struct Bits {
        static constexpr std::uint32_t minSmp = 0x01;
        static constexpr std::uint32_t srcTyp = 0x02;
        static constexpr std::uint32_t srcRes = 0x04;
        static constexpr std::uint32_t srcFps = 0x08;
        static constexpr std::uint32_t tgtTyp = 0x10;
        static constexpr std::uint32_t tgtRes = 0x20;
        static constexpr std::uint32_t tgtBps = 0x40;
    };

    GUID srcSubtype = GUID_NULL;
    GUID tgtSubtype = GUID_NULL;
    std::uint32_t minOutputSamples = 0;
    std::uint32_t srcWidth = 0;
    std::uint32_t srcHeight = 0;
    std::uint32_t srcFpsNum = 0;
    std::uint32_t srcFpsDen = 0;
    std::uint32_t tgtWidth = 0;
    std::uint32_t tgtHeight = 0;
    std::uint32_t tgtBpsAvg = 0;
    std::uint32_t present = 0;
    std::uint32_t changed = 0;
};

} // namespace kiv::mfcodec
