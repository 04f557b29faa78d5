#pragma once
// Deterministic synthetic video: smooth gradients that move with the frame number plus a bright block that
// crosses the picture, so every frame differs and a decoder's output can be matched to its source frame.

#include <cstdint>
#include <vector>

struct YuvFrame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> y;
    std::vector<std::uint8_t> u;
    std::vector<std::uint8_t> v;
};

// 4:2:0 planes without padding; width and height must be even.
YuvFrame MakePatternFrame(int index, int width, int height);

// Peak signal-to-noise ratio of two frames of the same size over all three planes, in dB.
double Psnr(const YuvFrame& a, const YuvFrame& b);
