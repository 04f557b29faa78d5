// Moving grabbed pixels into textures: opaque alpha for depth-24 images, clearing what a smaller grab leaves,
// and the pointer blended over the frame.

#include "platform/x11/PixelCopy.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Image {
    std::uint32_t width;
    std::uint32_t height;
    std::size_t pitch;
    std::vector<std::byte> bytes;

    Image(std::uint32_t w, std::uint32_t h, std::uint32_t fill)
        : width(w), height(h), pitch(std::size_t(w) * 4 + 8), bytes(pitch * h) {
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x)
                At(x, y) = fill;
    }
    std::uint32_t& At(std::uint32_t x, std::uint32_t y) {
        return reinterpret_cast<std::uint32_t*>(bytes.data() + y * pitch)[x];
    }
    x11::FrameTarget Target() { return x11::FrameTarget{bytes.data(), pitch, width, height}; }
};

TEST(PixelCopyTest, DepthTwentyFourPixelsBecomeOpaqueAndTheRestIsCleared) {
    std::vector<std::uint32_t> source = {0x00112233, 0x00445566, 0x7F778899, 0x00AABBCC};
    Image target(3, 3, 0xDEADBEEF);
    x11::CopyPixels(reinterpret_cast<const std::byte*>(source.data()), 8, 2, 2, true, target.Target());
    EXPECT_EQ(target.At(0, 0), 0xFF112233u);
    EXPECT_EQ(target.At(1, 0), 0xFF445566u);
    EXPECT_EQ(target.At(0, 1), 0xFF778899u);
    EXPECT_EQ(target.At(1, 1), 0xFFAABBCCu);
    EXPECT_EQ(target.At(2, 0), 0u);
    EXPECT_EQ(target.At(2, 1), 0u);
    for (std::uint32_t x = 0; x < 3; ++x)
        EXPECT_EQ(target.At(x, 2), 0u);
}

TEST(PixelCopyTest, WideRowsAreOpaqueInEveryPixelWhateverTheirLength) {
    for (std::uint32_t width : {4u, 7u, 33u}) {
        std::vector<std::uint32_t> source(std::size_t(width) * 2);
        for (std::size_t i = 0; i < source.size(); ++i)
            source[i] = static_cast<std::uint32_t>(i * 0x01030507u);
        Image target(width, 2, 0xDEADBEEF);
        x11::CopyPixels(reinterpret_cast<const std::byte*>(source.data()), std::size_t(width) * 4, width, 2,
                        true, target.Target());
        for (std::uint32_t y = 0; y < 2; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
                EXPECT_EQ(target.At(x, y), source[std::size_t(y) * width + x] | 0xFF000000u)
                    << width << " wide, at " << x << "," << y;
    }
}

TEST(PixelCopyTest, AlphaOfThirtyTwoBitImagesIsKeptAndLargerImagesAreCut) {
    std::vector<std::uint32_t> source(4 * 4, 0x80102030);
    Image target(2, 2, 0);
    x11::CopyPixels(reinterpret_cast<const std::byte*>(source.data()), 16, 4, 4, false, target.Target());
    for (std::uint32_t y = 0; y < 2; ++y)
        for (std::uint32_t x = 0; x < 2; ++x)
            EXPECT_EQ(target.At(x, y), 0x80102030u);
}

TEST(PixelCopyTest, AGrabWrittenInPlaceKeepsItsPixelsAndOnlyWhatItDidNotCoverIsCleared) {
    // Full width, shorter than the target: the rows below are cleared, the grabbed ones left as written.
    Image full(3, 3, 0x00ABCDEF);
    x11::CopyPixels(full.bytes.data(), full.pitch, 3, 2, false, full.Target());
    for (std::uint32_t x = 0; x < 3; ++x) {
        EXPECT_EQ(full.At(x, 0), 0x00ABCDEFu);
        EXPECT_EQ(full.At(x, 1), 0x00ABCDEFu);
        EXPECT_EQ(full.At(x, 2), 0u);
    }
    // Narrower: the right-hand columns are cleared too.
    Image narrow(3, 2, 0x00ABCDEF);
    x11::CopyPixels(narrow.bytes.data(), narrow.pitch, 2, 2, false, narrow.Target());
    for (std::uint32_t y = 0; y < 2; ++y) {
        EXPECT_EQ(narrow.At(0, y), 0x00ABCDEFu);
        EXPECT_EQ(narrow.At(1, y), 0x00ABCDEFu);
        EXPECT_EQ(narrow.At(2, y), 0u);
    }
}

TEST(PixelCopyTest, CursorIsBlendedPremultipliedAndClippedAtTheEdges) {
    Image target(4, 4, 0xFF000000);
    // A 2x2 pointer: opaque white, transparent, half-transparent premultiplied red, transparent.
    const std::uint32_t cursor[] = {0xFFFFFFFF, 0x00000000, 0x80800000, 0x00000000};
    x11::BlendCursor(cursor, 2, 2, 3, 3, target.Target());
    EXPECT_EQ(target.At(3, 3), 0xFFFFFFFFu);
    x11::BlendCursor(cursor, 2, 2, -1, 0, target.Target());
    EXPECT_EQ(target.At(0, 0), 0xFF000000u);
    EXPECT_EQ(target.At(0, 1), 0xFF000000u);
    x11::BlendCursor(cursor, 2, 2, 0, 0, target.Target());
    EXPECT_EQ(target.At(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(target.At(0, 1), 0xFF800000u);
    EXPECT_EQ(target.At(1, 0), 0xFF000000u);
}

} // namespace
