#pragma once
// Pixel moves of the grabs: X images into frame targets, and the pointer image over them.

#include "FrameTarget.h"

namespace x11 {

// Copies a packed image into the top-left of `target` and clears the rest of it; with `opaque`, every pixel
// gets alpha 255 (depth-24 pixels carry no alpha). The image may be the target's own memory, when the server
// wrote it there.
void CopyPixels(const std::byte* source, std::size_t sourcePitch, std::uint32_t width, std::uint32_t height,
                bool opaque, const FrameTarget& target);

// Blends a premultiplied ARGB image with its top-left corner at (left, top) of the target, clipped.
void BlendCursor(const std::uint32_t* image, std::uint32_t width, std::uint32_t height, std::int32_t left,
                 std::int32_t top, const FrameTarget& target);

} // namespace x11
