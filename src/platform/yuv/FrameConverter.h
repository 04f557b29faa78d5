#pragma once
// Colour conversion, scaling and rotation of 32-bit BGRA frames on libyuv. NV12 output is BT.601 with
// limited (16-235) range. A picture whose aspect differs from the target's (or from the area of the target it
// is given) is fitted inside it, centred, with black all around.

#include "ImageViews.h"

#include <cstdint>
#include <vector>

namespace yuv {

class FrameConverter {
public:
    using Rect = yuv::Rect;

    // `clockwise` is 0, 90, 180 or 270: the source is turned by that much before it is fitted into `area`
    // (empty: the whole target). False for empty images, odd NV12 sizes or positions, another angle, or an
    // area outside the target.
    bool ToNv12(const ArgbView& source, int clockwise, const Nv12Target& target, Rect area = {});
    bool ToArgb(const ArgbView& source, int clockwise, const ArgbTarget& target, Rect area = {});

    // Where a picture of the source size lands inside the target; `even` keeps NV12 chroma aligned.
    static Rect FitInside(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, bool even);

private:
    // The source after rotation; points into m_rotated unless clockwise is 0.
    bool Rotate(const ArgbView& source, int clockwise, ArgbView& rotated);
    // The source scaled to width x height (the source itself when it already has that size).
    bool Scale(const ArgbView& source, int width, int height, ArgbView& scaled);

    std::vector<std::uint8_t> m_rotated;
    std::vector<std::uint8_t> m_scaled;
};

// Splits the interleaved chroma plane into two planes (the three-plane layout some encoders take).
bool Nv12ToI420(const Nv12View& source, const I420Target& target);

} // namespace yuv
