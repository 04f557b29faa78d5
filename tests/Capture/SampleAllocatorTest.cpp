// D3DSampleAllocator: copies into pooled textures, recycles them through tracked samples, grows when empty.

#include "Capture/D3DSampleAllocator.h"
#include <codecapi.h>
#include <mfapi.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr UINT Width = 64;
constexpr UINT Height = 16;

class AllocatorTest : public ::testing::Test {
protected:
    AllocatorTest() {
        EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                    D3D11_SDK_VERSION, &m_device, nullptr, nullptr),
                  S_OK);
        m_allocator = MakeComObject<D3DSampleAllocator>(m_device.Get());
    }

    // A capture-like texture whose bytes count up from `seed`.
    ComPtr<ID3D11Texture2D> SourceTexture(BYTE seed) {
        std::vector<BYTE> pixels(Width * Height * 4);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = BYTE(seed + i);
        const D3D11_TEXTURE2D_DESC desc{
            Width, Height, 1, 1, DXGI_FORMAT_B8G8R8A8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT, 0, 0, 0};
        const D3D11_SUBRESOURCE_DATA data{pixels.data(), Width * 4, 0};
        ComPtr<ID3D11Texture2D> texture;
        EXPECT_EQ(m_device->CreateTexture2D(&desc, &data, &texture), S_OK);
        return texture;
    }

    static ComPtr<ID3D11Texture2D> TextureOf(IMFSample* sample) {
        ComPtr<IMFMediaBuffer> buffer;
        ComPtr<IMFDXGIBuffer> dxgiBuffer;
        ComPtr<ID3D11Texture2D> texture;
        if (SUCCEEDED(sample->GetBufferByIndex(0, &buffer)) &&
            SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&dxgiBuffer))))
            dxgiBuffer->GetResource(IID_PPV_ARGS(&texture));
        return texture;
    }

    ComPtr<ID3D11Device> m_device;
    ComPtr<D3DSampleAllocator> m_allocator;
};

TEST_F(AllocatorTest, ASampleHoldsACopyOfTheCapturedTextureInATextureOfItsOwn) {
    const ComPtr<ID3D11Texture2D> source = SourceTexture(7);
    ComPtr<IMFSample> sample;
    ASSERT_EQ(m_allocator->Allocate(source.Get(), &sample), S_OK);
    DWORD buffers = 0;
    ASSERT_EQ(sample->GetBufferCount(&buffers), S_OK);
    EXPECT_EQ(buffers, 1u);
    const ComPtr<ID3D11Texture2D> copy = TextureOf(sample.Get());
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, source);
    D3D11_TEXTURE2D_DESC desc{};
    copy->GetDesc(&desc);
    EXPECT_EQ(desc.Width, Width);
    EXPECT_EQ(desc.BindFlags, 0x28u);
    EXPECT_EQ(desc.Usage, D3D11_USAGE_DEFAULT);

    ComPtr<IMFMediaBuffer> buffer;
    ASSERT_EQ(sample->ConvertToContiguousBuffer(&buffer), S_OK);
    BYTE* data = nullptr;
    DWORD length = 0;
    ASSERT_EQ(buffer->Lock(&data, nullptr, &length), S_OK);
    ASSERT_EQ(length, Width * Height * 4);
    for (DWORD i = 0; i < length; ++i)
        ASSERT_EQ(data[i], BYTE(7 + i)) << "byte " << i;
    buffer->Unlock();
    ComPtr<IMFTrackedSample> tracked;
    EXPECT_EQ(sample->QueryInterface(IID_PPV_ARGS(&tracked)), S_OK);
}

TEST_F(AllocatorTest, AReleasedSampleComesBackAndIsHandedOutAgain) {
    const ComPtr<ID3D11Texture2D> source = SourceTexture(1);
    ComPtr<IMFSample> sample;
    ASSERT_EQ(m_allocator->Allocate(source.Get(), &sample), S_OK);
    const ComPtr<ID3D11Texture2D> first = TextureOf(sample.Get());
    IMFSample* const firstSample = sample.Get();
    ASSERT_EQ(sample->SetUINT32(MFSampleExtension_VideoEncodePictureType, eAVEncH264PictureType_IDR), S_OK);
    EXPECT_EQ(m_allocator->PoolSize(), 0u);
    sample = nullptr;
    EXPECT_EQ(m_allocator->PoolSize(), 1u);
    ASSERT_EQ(m_allocator->Allocate(SourceTexture(2).Get(), &sample), S_OK);
    EXPECT_EQ(sample.Get(), firstSample);
    EXPECT_EQ(TextureOf(sample.Get()), first);
    // The previous frame's key-frame mark does not come back with it.
    UINT32 items = 1;
    EXPECT_EQ(sample->GetCount(&items), S_OK);
    EXPECT_EQ(items, 0u);
    EXPECT_EQ(m_allocator->PoolSize(), 0u);
    // Tracked again: the second release returns it too.
    sample = nullptr;
    EXPECT_EQ(m_allocator->PoolSize(), 1u);
}

TEST_F(AllocatorTest, ThePoolGrowsWhileSamplesAreHeldAndKeepsThemAll) {
    const ComPtr<ID3D11Texture2D> source = SourceTexture(3);
    std::vector<ComPtr<IMFSample>> held(5);
    std::vector<ID3D11Texture2D*> textures;
    for (auto& sample : held) {
        ASSERT_EQ(m_allocator->Allocate(source.Get(), &sample), S_OK);
        textures.push_back(TextureOf(sample.Get()).Get());
    }
    for (std::size_t i = 0; i < textures.size(); ++i)
        for (std::size_t j = i + 1; j < textures.size(); ++j)
            EXPECT_NE(textures[i], textures[j]);
    EXPECT_EQ(m_allocator->PoolSize(), 0u);
    held.clear();
    EXPECT_EQ(m_allocator->PoolSize(), 5u);
}

TEST_F(AllocatorTest, ASampleOutlivingItsAllocatorStillGoesAway) {
    ComPtr<IMFSample> sample;
    ASSERT_EQ(m_allocator->Allocate(SourceTexture(4).Get(), &sample), S_OK);
    m_allocator = nullptr;
    // The sample keeps the allocator until it comes back; then both go (the leak checker would tell).
    sample = nullptr;
}

TEST_F(AllocatorTest, NullArgumentsAreRefused) {
    ComPtr<IMFSample> sample;
    EXPECT_EQ(m_allocator->Allocate(nullptr, &sample), E_POINTER);
    EXPECT_EQ(m_allocator->Allocate(SourceTexture(5).Get(), nullptr), E_POINTER);
}

} // namespace
