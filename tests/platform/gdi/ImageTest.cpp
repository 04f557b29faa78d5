#include <atlimage.h>
#include <stringapiset.h>
#include <wingdi.h>

#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Keeps libjpeg from declaring its own INT32 beside the platform one.
#define XMD_H
#include <jpeglib.h>

namespace {

namespace fs = std::filesystem;

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

Decoded DecodeJpeg(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    jpeg_decompress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data.data(), data.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    Decoded decoded{static_cast<int>(info.output_width), static_cast<int>(info.output_height), {}};
    decoded.rgb.resize(static_cast<std::size_t>(decoded.width) * decoded.height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row =
            decoded.rgb.data() + static_cast<std::size_t>(info.output_scanline) * decoded.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return decoded;
}

class ImageTest : public ::testing::Test {
protected:
    // Left half blue, right half red, in BGRX byte order.
    HBITMAP MakeBitmap(int width, int height) {
        HDC dc = GetDC(nullptr);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
        ReleaseDC(nullptr, dc);
        std::vector<std::uint8_t> bits(static_cast<std::size_t>(width) * height * 4);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint8_t* p = &bits[(static_cast<std::size_t>(y) * width + x) * 4];
                p[0] = x < width / 2 ? 255 : 0;
                p[2] = x < width / 2 ? 0 : 255;
            }
        EXPECT_EQ(SetBitmapBits(bitmap, static_cast<DWORD>(bits.size()), bits.data()),
                  static_cast<LONG>(bits.size()));
        return bitmap;
    }

    TempDirectory m_temp;
    const fs::path m_dir = m_temp.Root();
};

TEST_F(ImageTest, BitmapsCopyTheirBitsAndRefuseUnknownHandles) {
    HBITMAP bitmap = CreateCompatibleBitmap(GetDC(nullptr), 2, 2);
    ASSERT_NE(bitmap, nullptr);
    const std::uint8_t bits[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    EXPECT_EQ(SetBitmapBits(bitmap, sizeof(bits), bits), 16);
    std::uint8_t back[16] = {};
    EXPECT_EQ(GetBitmapBits(bitmap, sizeof(back), back), 16);
    EXPECT_EQ(back[15], 16);
    BITMAP info{};
    EXPECT_EQ(GetObjectW(bitmap, sizeof(info), &info), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(info.bmWidth, 2);
    EXPECT_EQ(info.bmWidthBytes, 8);
    EXPECT_EQ(info.bmBitsPixel, 32);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_EQ(SetBitmapBits(bitmap, sizeof(bits), bits), 0);
    EXPECT_EQ(CreateCompatibleBitmap(GetDC(nullptr), 0, 5), nullptr);
}

TEST_F(ImageTest, SavesABaselineJpegWithTheBitmapsColours) {
    CImage image;
    image.Attach(MakeBitmap(64, 48));
    const fs::path path = m_dir / "shot.jpg";
    ASSERT_EQ(image.Save(path.wstring().c_str()), S_OK);

    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(data.size(), 4u);
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(data[1], 0xD8);
    bool baseline = false;
    for (std::size_t i = 0; i + 1 < data.size(); ++i)
        baseline |= data[i] == 0xFF && data[i + 1] == 0xC0;
    EXPECT_TRUE(baseline) << "no baseline frame header";

    const Decoded decoded = DecodeJpeg(path);
    ASSERT_EQ(decoded.width, 64);
    ASSERT_EQ(decoded.height, 48);
    const std::uint8_t* left = &decoded.rgb[(24 * 64 + 8) * 3];
    const std::uint8_t* right = &decoded.rgb[(24 * 64 + 56) * 3];
    EXPECT_LT(left[0], 20);
    EXPECT_GT(left[2], 235);
    EXPECT_GT(right[0], 235);
    EXPECT_LT(right[2], 20);

    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ImageTest, SaveReplacesAnExistingFileButNeverFollowsALink) {
    CImage image;
    image.Attach(MakeBitmap(16, 16));
    const fs::path path = m_dir / "shot.jpg";
    { std::ofstream(path) << "old"; }
    ASSERT_EQ(image.Save(path.wstring().c_str()), S_OK);
    EXPECT_GT(fs::file_size(path), 3u);

    const fs::path victim = m_dir / "victim";
    { std::ofstream(victim) << "keep"; }
    const fs::path link = m_dir / "link.jpg";
    fs::create_symlink(victim, link);
    ASSERT_EQ(image.Save(link.wstring().c_str()), S_OK);
    EXPECT_EQ(fs::file_size(victim), 4u);
    EXPECT_FALSE(fs::is_symlink(link));
}

TEST_F(ImageTest, SaveFailsCleanly) {
    CImage image;
    EXPECT_EQ(image.Save((m_dir / "empty.jpg").wstring().c_str()), E_FAIL);
    image.Attach(MakeBitmap(8, 8));
    EXPECT_EQ(image.Save(nullptr), E_POINTER);
    EXPECT_EQ(image.Save((m_dir / "shot.xyz").wstring().c_str()), E_FAIL);
    EXPECT_EQ(image.Save((m_dir / "missing-dir" / "shot.jpg").wstring().c_str()), E_FAIL);
    EXPECT_TRUE(fs::is_empty(m_dir));
}

} // namespace
