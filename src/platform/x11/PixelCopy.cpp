#include "PixelCopy.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace x11 {

namespace {

// Copies a row with the alpha byte set, four pixels at a time where the processor allows: every captured
// frame passes through here.
void SetOpaque(const std::uint32_t* from, std::uint32_t* to, std::uint32_t width) {
    std::uint32_t x = 0;
#if defined(__SSE2__)
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (; x + 4 <= width; x += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x), _mm_or_si128(pixels, alpha));
    }
#endif
    for (; x < width; ++x)
        to[x] = from[x] | 0xFF000000u;
}

} // namespace

void CopyPixels(const std::byte* source, std::size_t sourcePitch, std::uint32_t width, std::uint32_t height,
                bool opaque, const FrameTarget& target) {
    width = std::min(width, target.width);
    height = std::min(height, target.height);
    // A grab written in place at the target's full width leaves only the rows below it to clear.
    const bool inPlace = source == target.data && sourcePitch == target.rowPitch;
    const std::uint32_t rowsToCopy = !opaque && inPlace && width == target.width ? 0 : height;
    for (std::uint32_t y = 0; y < rowsToCopy; ++y) {
        const auto* from = reinterpret_cast<const std::uint32_t*>(source + y * sourcePitch);
        auto* to = reinterpret_cast<std::uint32_t*>(target.data + y * target.rowPitch);
        if (opaque)
            SetOpaque(from, to, width);
        else if (from != to)
            std::memcpy(to, from, std::size_t(width) * 4);
        if (width < target.width)
            std::memset(to + width, 0, std::size_t(target.width - width) * 4);
    }
    for (std::uint32_t y = height; y < target.height; ++y)
        std::memset(target.data + y * target.rowPitch, 0, std::size_t(target.width) * 4);
}

void BlendCursor(const std::uint32_t* image, std::uint32_t width, std::uint32_t height, std::int32_t left,
                 std::int32_t top, const FrameTarget& target) {
    const std::int64_t x0 = std::max<std::int64_t>(0, left);
    const std::int64_t y0 = std::max<std::int64_t>(0, top);
    const std::int64_t x1 = std::min<std::int64_t>(target.width, std::int64_t(left) + width);
    const std::int64_t y1 = std::min<std::int64_t>(target.height, std::int64_t(top) + height);
    for (std::int64_t y = y0; y < y1; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(target.data + y * target.rowPitch);
        const std::uint32_t* cursorRow = image + (y - top) * width;
        for (std::int64_t x = x0; x < x1; ++x) {
            const std::uint32_t src = cursorRow[x - left];
            const std::uint32_t alpha = src >> 24;
            if (alpha == 0)
                continue;
            const std::uint32_t dst = row[x];
            std::uint32_t out = 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                const std::uint32_t s = (src >> shift) & 0xFF;
                const std::uint32_t d = (dst >> shift) & 0xFF;
                out |= std::min<std::uint32_t>(255, s + (d * (255 - alpha) + 127) / 255) << shift;
            }
            row[x] = out;
        }
    }
}

} // namespace x11
