#include "app/ScreenshotKeeper.h"
#include <d3d11.h>

#include <gtest/gtest.h>

#include "TempDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

class ScreenshotKeeperTest : public ::testing::Test {
protected:
    ScreenshotKeeperTest() {
        const HRESULT hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                             D3D11_SDK_VERSION, &m_device, nullptr, nullptr);
        if (FAILED(hr))
            throw std::runtime_error("no device");
    }

    // A frame of one BGRA colour, as the capture delivers them.
    ComPtr<ID3D11Texture2D> Frame(std::uint32_t bgra, UINT width = 64, UINT height = 32) {
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, bgra);
        D3D11_TEXTURE2D_DESC descriptor{};
        descriptor.Width = width;
        descriptor.Height = height;
        descriptor.MipLevels = 1;
        descriptor.ArraySize = 1;
        descriptor.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        descriptor.SampleDesc.Count = 1;
        descriptor.Usage = D3D11_USAGE_DEFAULT;
        descriptor.BindFlags = D3D11_BIND_SHADER_RESOURCE;
        const D3D11_SUBRESOURCE_DATA data{pixels.data(), width * 4, 0};
        ComPtr<ID3D11Texture2D> texture;
        EXPECT_EQ(m_device->CreateTexture2D(&descriptor, &data, &texture), S_OK);
        return texture;
    }

    std::wstring Name() const { return (m_dir / "report").wstring(); }
    fs::path Jpeg() const { return m_dir / "report.jpg"; }

    // The colour at the image's centre, decoded by Debian's ffmpeg; -1 when there is no image.
    long CentreRgb(int width, int height) const {
        const std::string command = "/usr/bin/ffmpeg -loglevel error -i '" + Jpeg().string() +
                                    "' -f rawvideo -pix_fmt rgb24 - > '" + (m_dir / "rgb").string() + "'";
        if (std::system(command.c_str()) != 0)
            return -1;
        std::ifstream in(m_dir / "rgb", std::ios::binary);
        std::vector<unsigned char> rgb((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
        const std::size_t at = (static_cast<std::size_t>(height / 2) * width + width / 2) * 3;
        if (rgb.size() != static_cast<std::size_t>(width) * height * 3)
            return -1;
        return (long(rgb[at]) << 16) | (long(rgb[at + 1]) << 8) | rgb[at + 2];
    }

    TempDirectory m_temp;
    fs::path m_dir = m_temp.Path("");
    ComPtr<ID3D11Device> m_device;
};

// Distinct, JPEG-stable colours: frame i is grey level 10 * i.
std::uint32_t Grey(int level) { return 0xFF000000u | (level << 16) | (level << 8) | level; }

TEST_F(ScreenshotKeeperTest, KeepsEveryTenthFrameAndSavesTheNewestKept) {
    ScreenshotKeeper keeper(1, 10, false);
    for (int i = 0; i < 25; ++i)
        keeper.Offer(m_device.Get(), Frame(Grey(i * 10)).Get());
    keeper.Save(m_device.Get(), Name());
    const long centre = CentreRgb(64, 32);
    ASSERT_GE(centre, 0);
    EXPECT_NEAR(centre & 0xFF, 200, 3) << "frame 20 is grey 200";
    // A frame that comes long after the kept one is kept, whatever its number: a still window's frames.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    keeper.Offer(m_device.Get(), Frame(Grey(250)).Get());
    keeper.Save(m_device.Get(), Name());
    EXPECT_NEAR(CentreRgb(64, 32) & 0xFF, 250, 3);
}

TEST_F(ScreenshotKeeperTest, AKeeperThatSawNoFrameLeavesThePreviousImage) {
    { std::ofstream(Jpeg()) << "previous"; }
    ScreenshotKeeper keeper(1, 10, false);
    keeper.Save(m_device.Get(), Name());
    EXPECT_EQ(fs::file_size(Jpeg()), 8u);
}

TEST_F(ScreenshotKeeperTest, AResizedWindowIsKeptAtItsNewSize) {
    ScreenshotKeeper keeper(1, 1, false);
    keeper.Offer(m_device.Get(), Frame(Grey(40), 64, 32).Get());
    keeper.Offer(m_device.Get(), Frame(Grey(160), 96, 48).Get());
    keeper.Save(m_device.Get(), Name());
    const long centre = CentreRgb(96, 48);
    ASSERT_GE(centre, 0);
    EXPECT_NEAR(centre & 0xFF, 160, 3);
}

TEST_F(ScreenshotKeeperTest, SeveralSlotsSaveTheNewestFirstAndOlderOnesAsAlternatives) {
    ScreenshotKeeper keeper(3, 10, false);
    for (int i = 0; i < 30; ++i)
        keeper.Offer(m_device.Get(), Frame(Grey(i * 5)).Get());
    keeper.Save(m_device.Get(), Name());
    EXPECT_NEAR(CentreRgb(64, 32) & 0xFF, 100, 3) << "frame 20 is the newest kept";
    EXPECT_TRUE(fs::exists(m_dir / "report-alt-1.jpg"));
    EXPECT_TRUE(fs::exists(m_dir / "report-alt-2.jpg"));
}

} // namespace
