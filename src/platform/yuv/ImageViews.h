#pragma once
// Neutral descriptions of pixel memory, as the colour-conversion backend takes them.

#include <cstdint>

namespace yuv {

// An area of an image, in pixels.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// 32-bit pixels with bytes B, G, R, A in memory.
struct ArgbView {
    const std::uint8_t* data = nullptr;
    int pitch = 0;
    int width = 0;
    int height = 0;
};

struct ArgbTarget {
    std::uint8_t* data = nullptr;
    int pitch = 0;
    int width = 0;
    int height = 0;
};

// A luma plane and an interleaved half-size chroma plane; width and height are even.
struct Nv12View {
    const std::uint8_t* y = nullptr;
    int yPitch = 0;
    const std::uint8_t* uv = nullptr;
    int uvPitch = 0;
    int width = 0;
    int height = 0;
};

struct Nv12Target {
    std::uint8_t* y = nullptr;
    int yPitch = 0;
    std::uint8_t* uv = nullptr;
    int uvPitch = 0;
    int width = 0;
    int height = 0;
};

// Three planes, chroma at half width and height.
struct I420Target {
    std::uint8_t* y = nullptr;
    int yPitch = 0;
    std::uint8_t* u = nullptr;
    int uPitch = 0;
    std::uint8_t* v = nullptr;
    int vPitch = 0;
    int width = 0;
    int height = 0;
};

} // namespace yuv
