// Textures, the immediate context and the multithread lock of the CPU-memory Direct3D 11 device.

#include "platform/d3d/Texture2D.h"
#include <d3d11_1.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <sys/mman.h>
#include <sys/shm.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

D3D11_TEXTURE2D_DESC Desc(UINT width, UINT height, DXGI_FORMAT format,
                          D3D11_USAGE usage = D3D11_USAGE_DEFAULT, UINT cpuAccess = 0) {
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = format;
    desc.SampleDesc.Count = 1;
    desc.Usage = usage;
    desc.CPUAccessFlags = cpuAccess;
    return desc;
}

class TextureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr,
                                    D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0, D3D11_SDK_VERSION,
                                    &m_device, nullptr, &m_context),
                  S_OK);
    }

    ComPtr<ID3D11Texture2D> Create(const D3D11_TEXTURE2D_DESC& desc,
                                   const D3D11_SUBRESOURCE_DATA* data = nullptr) {
        ComPtr<ID3D11Texture2D> texture;
        EXPECT_EQ(m_device->CreateTexture2D(&desc, data, &texture), S_OK);
        return texture;
    }

    // Copies a texture to a staging texture and returns its bytes row by row, without pitch padding.
    std::vector<std::uint8_t> ReadBack(ID3D11Texture2D* texture, UINT rowBytes, UINT rows) {
        D3D11_TEXTURE2D_DESC desc{};
        texture->GetDesc(&desc);
        const auto staging =
            Create(Desc(desc.Width, desc.Height, desc.Format, D3D11_USAGE_STAGING, D3D11_CPU_ACCESS_READ));
        m_context->CopyResource(staging.Get(), texture);
        D3D11_MAPPED_SUBRESOURCE mapped{};
        EXPECT_EQ(m_context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
        std::vector<std::uint8_t> bytes;
        for (UINT row = 0; row < rows; ++row) {
            const auto* line = static_cast<const std::uint8_t*>(mapped.pData) + row * mapped.RowPitch;
            bytes.insert(bytes.end(), line, line + rowBytes);
        }
        m_context->Unmap(staging.Get(), 0);
        return bytes;
    }

    // A 4x2 BGRA texture with every pixel `value`.
    ComPtr<Texture2D> Filled(std::uint32_t value) {
        const std::vector<std::uint32_t> pixels(8, value);
        const D3D11_SUBRESOURCE_DATA data{pixels.data(), 16, 0};
        ComPtr<Texture2D> texture;
        EXPECT_EQ(Texture2D::Create(m_device.Get(), Desc(4, 2, DXGI_FORMAT_B8G8R8A8_UNORM), &data, texture),
                  S_OK);
        return texture;
    }

    ComPtr<ID3D11Device> m_device;
    ComPtr<ID3D11DeviceContext> m_context;
};

TEST_F(TextureTest, CreationRejectsWhatD3D11RejectsAndClearsTheOutPointer) {
    struct Case {
        D3D11_TEXTURE2D_DESC desc;
        HRESULT expected;
    };
    auto staging = Desc(64, 64, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_STAGING, D3D11_CPU_ACCESS_READ);
    staging.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    auto mips = Desc(64, 64, DXGI_FORMAT_B8G8R8A8_UNORM);
    mips.MipLevels = 0;
    const Case cases[] = {
        {Desc(0, 64, DXGI_FORMAT_B8G8R8A8_UNORM), E_INVALIDARG},
        {Desc(16385, 64, DXGI_FORMAT_B8G8R8A8_UNORM), E_INVALIDARG},
        {Desc(64, 64, DXGI_FORMAT_UNKNOWN), E_INVALIDARG},
        {Desc(63, 64, DXGI_FORMAT_NV12), E_INVALIDARG},
        {Desc(64, 63, DXGI_FORMAT_P010), E_INVALIDARG},
        {Desc(64, 64, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DEFAULT, D3D11_CPU_ACCESS_READ), E_INVALIDARG},
        {Desc(64, 64, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_STAGING, 0), E_INVALIDARG},
        {Desc(64, 64, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DYNAMIC, D3D11_CPU_ACCESS_READ), E_INVALIDARG},
        {Desc(64, 64, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_IMMUTABLE), E_INVALIDARG},
        {staging, E_INVALIDARG},
        {mips, E_NOTIMPL},
    };
    for (const Case& c : cases) {
        ID3D11Texture2D* texture = reinterpret_cast<ID3D11Texture2D*>(std::uintptr_t{1});
        EXPECT_EQ(m_device->CreateTexture2D(&c.desc, nullptr, &texture), c.expected)
            << c.desc.Width << "x" << c.desc.Height << " format " << c.desc.Format;
        EXPECT_EQ(texture, nullptr);
    }
    ID3D11Texture2D* texture = reinterpret_cast<ID3D11Texture2D*>(std::uintptr_t{1});
    EXPECT_EQ(m_device->CreateTexture2D(nullptr, nullptr, &texture), E_INVALIDARG);
    EXPECT_EQ(texture, nullptr);
    // Without an out-pointer only the description is checked.
    const auto valid = Desc(64, 64, DXGI_FORMAT_NV12);
    EXPECT_EQ(m_device->CreateTexture2D(&valid, nullptr, nullptr), S_FALSE);
}

TEST_F(TextureTest, EveryFormatOfTheSystemHasItsPlanesAtOnePitch) {
    struct Case {
        DXGI_FORMAT format;
        UINT rowBytes;
        UINT rows; // all planes
    };
    const Case cases[] = {
        {DXGI_FORMAT_B8G8R8A8_UNORM, 4 * 100, 50},
        {DXGI_FORMAT_R10G10B10A2_UNORM, 4 * 100, 50},
        {DXGI_FORMAT_AYUV, 4 * 100, 50},
        {DXGI_FORMAT_R8_UNORM, 100, 50},
        {DXGI_FORMAT_NV12, 100, 75},
        {DXGI_FORMAT_P010, 200, 75},
    };
    for (const Case& c : cases) {
        const auto texture = Create(Desc(100, 50, c.format, D3D11_USAGE_STAGING, D3D11_CPU_ACCESS_WRITE));
        D3D11_MAPPED_SUBRESOURCE mapped{};
        ASSERT_EQ(m_context->Map(texture.Get(), 0, D3D11_MAP_WRITE, 0, &mapped), S_OK) << c.format;
        EXPECT_GE(mapped.RowPitch, c.rowBytes);
        EXPECT_EQ(mapped.RowPitch % 64, 0u);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(mapped.pData) % 64, 0u);
        EXPECT_EQ(mapped.DepthPitch, mapped.RowPitch * c.rows) << c.format;
        // The whole subresource is writable.
        std::memset(mapped.pData, 0x5A, mapped.DepthPitch);
        m_context->Unmap(texture.Get(), 0);
    }
}

TEST_F(TextureTest, MapFollowsUsageAndCpuAccess) {
    const auto gpuOnly = Create(Desc(16, 16, DXGI_FORMAT_B8G8R8A8_UNORM));
    const auto readable =
        Create(Desc(16, 16, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_STAGING, D3D11_CPU_ACCESS_READ));
    const auto dynamic =
        Create(Desc(16, 16, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DYNAMIC, D3D11_CPU_ACCESS_WRITE));
    D3D11_MAPPED_SUBRESOURCE mapped{};
    EXPECT_EQ(m_context->Map(gpuOnly.Get(), 0, D3D11_MAP_READ, 0, &mapped), E_INVALIDARG);
    EXPECT_EQ(mapped.pData, nullptr);
    EXPECT_EQ(m_context->Map(readable.Get(), 0, D3D11_MAP_WRITE, 0, &mapped), E_INVALIDARG);
    EXPECT_EQ(m_context->Map(readable.Get(), 1, D3D11_MAP_READ, 0, &mapped), E_INVALIDARG);
    EXPECT_EQ(m_context->Map(dynamic.Get(), 0, D3D11_MAP_READ, 0, &mapped), E_INVALIDARG);
    EXPECT_EQ(m_context->Map(dynamic.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped), S_OK);
    m_context->Unmap(dynamic.Get(), 0);
    ASSERT_EQ(m_context->Map(readable.Get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
    D3D11_MAPPED_SUBRESOURCE again{};
    EXPECT_EQ(m_context->Map(readable.Get(), 0, D3D11_MAP_READ, 0, &again), E_INVALIDARG);
    m_context->Unmap(readable.Get(), 0);
    EXPECT_EQ(m_context->Map(readable.Get(), 0, D3D11_MAP_READ, 0, &again), S_OK);
    m_context->Unmap(readable.Get(), 0);
    EXPECT_EQ(m_context->Map(nullptr, 0, D3D11_MAP_READ, 0, &again), E_INVALIDARG);
}

TEST_F(TextureTest, InitialDataAndUpdatesLandInTheRightPlanes) {
    // NV12 4x4: 16 luma bytes then 8 interleaved chroma bytes, given at a pitch of 6.
    std::vector<std::uint8_t> source(6 * 6, 0xEE);
    for (int row = 0; row < 6; ++row)
        for (int x = 0; x < 4; ++x)
            source[row * 6 + x] = static_cast<std::uint8_t>(row * 16 + x);
    const D3D11_SUBRESOURCE_DATA data{source.data(), 6, 0};
    const auto texture = Create(Desc(4, 4, DXGI_FORMAT_NV12), &data);
    const auto bytes = ReadBack(texture.Get(), 4, 6);
    for (int row = 0; row < 6; ++row)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(bytes[row * 4 + x], row * 16 + x) << row << "," << x;

    const std::uint8_t patch[2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8};
    const D3D11_BOX box{2, 0, 0, 4, 2, 1};
    m_context->UpdateSubresource(texture.Get(), 0, &box, patch, 2, 0);
    const auto updated = ReadBack(texture.Get(), 4, 6);
    EXPECT_EQ(updated[2], 1);
    EXPECT_EQ(updated[3], 2);
    EXPECT_EQ(updated[4 + 2], 3);
    EXPECT_EQ(updated[4 + 3], 4);
    // The chroma row of the box: its two bytes at columns 2 and 3.
    EXPECT_EQ(updated[16 + 2], 5);
    EXPECT_EQ(updated[16 + 3], 6);
    EXPECT_EQ(updated[16 + 0], 4 * 16 + 0);
}

TEST_F(TextureTest, CopiesMoveRegionsAndDropInvalidRequests) {
    std::vector<std::uint32_t> pixels(8 * 8);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint32_t>(i);
    const D3D11_SUBRESOURCE_DATA data{pixels.data(), 8 * 4, 0};
    const auto source = Create(Desc(8, 8, DXGI_FORMAT_B8G8R8A8_UNORM), &data);
    const auto target = Create(Desc(8, 8, DXGI_FORMAT_B8G8R8A8_UNORM));

    const D3D11_BOX box{1, 2, 0, 3, 4, 1};
    m_context->CopySubresourceRegion(target.Get(), 0, 5, 6, 0, source.Get(), 0, &box);
    auto read = [&](ID3D11Texture2D* texture) {
        const auto bytes = ReadBack(texture, 8 * 4, 8);
        std::vector<std::uint32_t> values(64);
        std::memcpy(values.data(), bytes.data(), bytes.size());
        return values;
    };
    auto copied = read(target.Get());
    EXPECT_EQ(copied[6 * 8 + 5], 2u * 8 + 1);
    EXPECT_EQ(copied[7 * 8 + 6], 3u * 8 + 2);
    EXPECT_EQ(copied[0], 0u);

    // Out of bounds, another size, another format: nothing happens.
    const D3D11_BOX outside{6, 6, 0, 9, 8, 1};
    m_context->CopySubresourceRegion(target.Get(), 0, 0, 0, 0, source.Get(), 0, &outside);
    const auto small = Create(Desc(4, 4, DXGI_FORMAT_B8G8R8A8_UNORM));
    m_context->CopyResource(small.Get(), source.Get());
    const auto other = Create(Desc(8, 8, DXGI_FORMAT_R10G10B10A2_UNORM));
    m_context->CopyResource(other.Get(), source.Get());
    EXPECT_EQ(read(target.Get()), copied);
    EXPECT_EQ(ReadBack(small.Get(), 16, 4), std::vector<std::uint8_t>(64, 0));

    m_context->CopyResource(target.Get(), source.Get());
    EXPECT_EQ(read(target.Get()), pixels);
}

TEST_F(TextureTest, ObjectsAnswerTheirInterfacesAndKeepTheirDeviceAlive) {
    const auto texture = Create(Desc(8, 8, DXGI_FORMAT_B8G8R8A8_UNORM));
    ComPtr<IDXGIResource> resource;
    EXPECT_EQ(texture->QueryInterface(IID_PPV_ARGS(&resource)), S_OK);
    ComPtr<ID3D11Texture2D> back;
    EXPECT_EQ(resource->QueryInterface(IID_PPV_ARGS(&back)), S_OK);
    EXPECT_EQ(back.Get(), texture.Get());
    ComPtr<ID3D11Multithread> multithread;
    EXPECT_EQ(texture->QueryInterface(IID_PPV_ARGS(&multithread)), E_NOINTERFACE);
    EXPECT_EQ(multithread.Get(), nullptr);

    ComPtr<ID3D11Device> owner;
    texture->GetDevice(&owner);
    EXPECT_EQ(owner.Get(), m_device.Get());
    ComPtr<IDXGIDevice> dxgiDevice;
    ASSERT_EQ(m_device->QueryInterface(IID_PPV_ARGS(&dxgiDevice)), S_OK);
    ComPtr<IDXGIAdapter> adapter;
    EXPECT_EQ(dxgiDevice->GetAdapter(&adapter), S_OK);
    ComPtr<IDXGIAdapter> parent;
    EXPECT_EQ(dxgiDevice->GetParent(IID_PPV_ARGS(&parent)), S_OK);

    // The context counts on its device: releasing the device keeps both usable.
    ComPtr<ID3D11DeviceContext> context = m_context;
    m_context = nullptr;
    owner = nullptr;
    dxgiDevice = nullptr;
    m_device = nullptr;
    ComPtr<ID3D11Device> fromContext;
    context->GetDevice(&fromContext);
    ASSERT_NE(fromContext.Get(), nullptr);
    EXPECT_EQ(fromContext->GetFeatureLevel(), D3D_FEATURE_LEVEL_11_0);
}

TEST_F(TextureTest, ATextureInSharedMemoryIsTheSegmentOthersAttach) {
    const D3D11_TEXTURE2D_DESC desc = Desc(64, 4, DXGI_FORMAT_B8G8R8A8_UNORM);
    ComPtr<Texture2D> shared;
    ASSERT_EQ(Texture2D::Create(m_device.Get(), desc, nullptr, shared, Texture2D::Backing::SharedMemory),
              S_OK);
    ASSERT_GE(shared->SharedMemoryId(), 0);
    // What another attachment (the display server's) writes is the texture's content, and the other way
    // round.
    auto* other = static_cast<std::uint8_t*>(shmat(shared->SharedMemoryId(), nullptr, 0));
    ASSERT_NE(other, reinterpret_cast<std::uint8_t*>(-1));
    EXPECT_EQ(other[shared->StorageSize() - 1], 0);
    other[shared->RowPitch() + 4] = 0xAB;
    EXPECT_EQ(std::to_integer<int>(shared->Storage()[shared->RowPitch() + 4]), 0xAB);
    shared->Storage()[0] = std::byte{0x5A};
    EXPECT_EQ(other[0], 0x5A);
    shmdt(other);
    // The texture behaves as any other: its copy holds the same bytes.
    const auto copy = ReadBack(shared.Get(), 64 * 4, 4);
    EXPECT_EQ(copy[0], 0x5A);
    EXPECT_EQ(copy[64 * 4 + 4], 0xAB);

    ComPtr<Texture2D> plain;
    ASSERT_EQ(Texture2D::Create(m_device.Get(), desc, nullptr, plain), S_OK);
    EXPECT_EQ(plain->SharedMemoryId(), -1);
}

TEST_F(TextureTest, OwedAlphaTravelsWithWholeCopiesAndIsPaidBeforeAnyoneReads) {
    const D3D11_TEXTURE2D_DESC desc = Desc(4, 2, DXGI_FORMAT_B8G8R8A8_UNORM);
    auto grabbed = [&] {
        ComPtr<Texture2D> texture = Filled(0x00123456);
        texture->OweOpaqueAlpha(true);
        return texture;
    };
    auto firstPixel = [](Texture2D& texture) {
        std::uint32_t pixel = 0;
        std::memcpy(&pixel, texture.Storage(), 4);
        return pixel;
    };

    // A whole copy moves the bytes as they are and the debt with them; reading the copy pays it.
    const ComPtr<Texture2D> frame = grabbed();
    ComPtr<Texture2D> copy;
    ASSERT_EQ(Texture2D::Create(m_device.Get(), desc, nullptr, copy), S_OK);
    m_context->CopyResource(copy.Get(), frame.Get());
    EXPECT_TRUE(copy->OwesOpaqueAlpha());
    Texture2D::ColourRead colours = copy->BeginColourRead(0);
    std::uint32_t unpaid = 0;
    std::memcpy(&unpaid, colours.data, 4);
    EXPECT_EQ(unpaid, 0x00123456u);
    Texture2D::EndColourRead(std::move(colours.holder));
    const auto bytes = ReadBack(copy.Get(), 16, 2);
    EXPECT_EQ(bytes[3], 0xFF);
    EXPECT_EQ(bytes[31], 0xFF);
    EXPECT_EQ(bytes[0], 0x56);
    EXPECT_TRUE(copy->OwesOpaqueAlpha()); // the staging copy paid, not its source
    EXPECT_TRUE(frame->OwesOpaqueAlpha());

    // A copy of part of a texture pays on both sides; so do writes into part of one.
    ComPtr<Texture2D> target;
    ASSERT_EQ(Texture2D::Create(m_device.Get(), desc, nullptr, target), S_OK);
    target->OweOpaqueAlpha(true);
    const D3D11_BOX box{0, 0, 0, 1, 1, 1};
    m_context->CopySubresourceRegion(target.Get(), 0, 1, 1, 0, frame.Get(), 0, &box);
    EXPECT_FALSE(frame->OwesOpaqueAlpha());
    EXPECT_FALSE(target->OwesOpaqueAlpha());
    EXPECT_EQ(firstPixel(*frame), 0xFF123456u);
    EXPECT_EQ(firstPixel(*target), 0xFF000000u);
    const ComPtr<Texture2D> updated = grabbed();
    const std::uint32_t one = 0x00ABCDEF;
    m_context->UpdateSubresource(updated.Get(), 0, &box, &one, 4, 0);
    EXPECT_FALSE(updated->OwesOpaqueAlpha());
    EXPECT_EQ(firstPixel(*updated), 0x00ABCDEFu);
    EXPECT_EQ(ReadBack(updated.Get(), 16, 2)[7], 0xFF);

    // Another format owes nothing: paying only settles the account.
    ComPtr<Texture2D> nv12;
    ASSERT_EQ(Texture2D::Create(m_device.Get(), Desc(4, 2, DXGI_FORMAT_NV12), nullptr, nv12), S_OK);
    nv12->OweOpaqueAlpha(true);
    nv12->PrepareBytes();
    EXPECT_FALSE(nv12->OwesOpaqueAlpha());
    EXPECT_EQ(std::to_integer<int>(nv12->Storage()[3]), 0);
}

TEST_F(TextureTest, AWholeCopyKeepsItsContentWhicheverSideChangesLater) {
    auto firstWord = [&](Texture2D* texture) {
        const auto bytes = ReadBack(texture, 16, 2);
        std::uint32_t word = 0;
        std::memcpy(&word, bytes.data(), 4);
        return word;
    };
    const D3D11_BOX firstPixel{0, 0, 0, 1, 1, 1};
    const std::uint32_t changed = 0xFF0000FF;

    // The source is written after the copy: by a partial update, by a mapped write, by a grab.
    const ComPtr<Texture2D> source = Filled(0xFF111111);
    const ComPtr<Texture2D> copy = Filled(0);
    const ComPtr<Texture2D> copyOfCopy = Filled(0);
    m_context->CopyResource(copy.Get(), source.Get());
    m_context->CopyResource(copyOfCopy.Get(), copy.Get());
    m_context->UpdateSubresource(source.Get(), 0, &firstPixel, &changed, 4, 0);
    EXPECT_EQ(firstWord(source.Get()), changed);
    EXPECT_EQ(firstWord(copy.Get()), 0xFF111111u);
    EXPECT_EQ(firstWord(copyOfCopy.Get()), 0xFF111111u);

    const ComPtr<Texture2D> staging = [&] {
        ComPtr<Texture2D> texture;
        EXPECT_EQ(Texture2D::Create(m_device.Get(),
                                    Desc(4, 2, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_STAGING,
                                         D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE),
                                    nullptr, texture),
                  S_OK);
        return texture;
    }();
    m_context->CopyResource(staging.Get(), source.Get());
    m_context->CopyResource(copy.Get(), staging.Get());
    D3D11_MAPPED_SUBRESOURCE mapped{};
    ASSERT_EQ(m_context->Map(staging.Get(), 0, D3D11_MAP_WRITE, 0, &mapped), S_OK);
    std::memset(mapped.pData, 0x22, 4);
    m_context->Unmap(staging.Get(), 0);
    EXPECT_EQ(firstWord(staging.Get()), 0x22222222u);
    EXPECT_EQ(firstWord(copy.Get()), changed);

    m_context->CopyResource(copy.Get(), source.Get());
    source->PrepareForWrite();
    std::memset(source->Storage(), 0x33, source->StorageSize());
    EXPECT_EQ(firstWord(copy.Get()), changed);

    // The copy is written: its source keeps its bytes, and copying back changes nothing.
    m_context->CopyResource(copy.Get(), source.Get());
    m_context->CopyResource(source.Get(), copy.Get());
    m_context->UpdateSubresource(copy.Get(), 0, &firstPixel, &changed, 4, 0);
    EXPECT_EQ(firstWord(copy.Get()), changed);
    EXPECT_EQ(firstWord(source.Get()), 0x33333333u);

    // A source let go by everyone else lives on in its copies.
    ComPtr<Texture2D> shortLived = Filled(0xFF444444);
    m_context->CopyResource(copy.Get(), shortLived.Get());
    shortLived = nullptr;
    EXPECT_EQ(firstWord(copy.Get()), 0xFF444444u);
}

std::size_t StoragePages(const Texture2D& texture) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (texture.StorageSize() + page - 1) / page;
}

// Pages of a texture's private storage that are in memory.
std::size_t ResidentPages(Texture2D& texture) {
    std::vector<unsigned char> resident(StoragePages(texture));
    EXPECT_EQ(mincore(texture.Storage(), texture.StorageSize(), resident.data()), 0);
    std::size_t count = 0;
    for (unsigned char flags : resident)
        count += flags & 1;
    return count;
}

TEST_F(TextureTest, ACopyOnlyEverReadThroughOrDiscardedTakesNoMemoryOfItsOwn) {
    const D3D11_TEXTURE2D_DESC desc = Desc(1920, 1080, DXGI_FORMAT_B8G8R8A8_UNORM);
    ComPtr<Texture2D> source;
    ComPtr<Texture2D> copy;
    ASSERT_EQ(Texture2D::Create(m_device.Get(), desc, nullptr, source), S_OK);
    ASSERT_EQ(Texture2D::Create(m_device.Get(), desc, nullptr, copy), S_OK);
    EXPECT_EQ(ResidentPages(*copy), 0u);
    source->PrepareForWrite();
    std::memset(source->Storage(), 0x7F, source->StorageSize());

    for (int frame = 0; frame < 3; ++frame) {
        m_context->CopyResource(copy.Get(), source.Get());
        Texture2D::ColourRead read = copy->BeginColourRead(0);
        EXPECT_EQ(std::to_integer<int>(read.data[100]), 0x7F);
        Texture2D::EndColourRead(std::move(read.holder));
    }
    EXPECT_EQ(ResidentPages(*copy), 0u);

    // Taking its own bytes puts them in memory.
    source->PrepareForWrite();
    EXPECT_EQ(ResidentPages(*copy), StoragePages(*copy));
    EXPECT_EQ(std::to_integer<int>(copy->Storage()[copy->StorageSize() - 1]), 0x7F);

    // A discarded copy gives them back, and no longer takes any when its source is written.
    ComPtr<ID3D11DeviceContext1> context1;
    ASSERT_EQ(m_context.As(&context1), S_OK);
    m_context->CopyResource(copy.Get(), source.Get());
    context1->DiscardResource(copy.Get());
    EXPECT_EQ(ResidentPages(*copy), 0u);
    source->PrepareForWrite();
    std::memset(source->Storage(), 0x11, source->StorageSize());
    EXPECT_EQ(ResidentPages(*copy), 0u);

    // A discarded source first leaves its copies their content.
    m_context->CopyResource(copy.Get(), source.Get());
    context1->DiscardResource(source.Get());
    EXPECT_EQ(ResidentPages(*source), 0u);
    copy->PrepareBytes();
    EXPECT_EQ(std::to_integer<int>(copy->Storage()[copy->StorageSize() - 1]), 0x11);
}

TEST_F(TextureTest, AWriterOfACopiedTextureWaitsForColourReadsThroughTheCopy) {
    const ComPtr<Texture2D> source = Filled(0xFF555555);
    const ComPtr<Texture2D> copy = Filled(0);
    m_context->CopyResource(copy.Get(), source.Get());

    Texture2D::ColourRead read = copy->BeginColourRead(0);
    EXPECT_EQ(read.data, source->Storage()); // read through, not copied
    std::atomic<bool> written{false};
    std::thread writer([&] {
        source->PrepareForWrite();
        std::memset(source->Storage(), 0, source->StorageSize());
        written = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(written.load());
    std::uint32_t seen = 0;
    std::memcpy(&seen, read.data, 4);
    EXPECT_EQ(seen, 0xFF555555u);
    Texture2D::EndColourRead(std::move(read.holder));
    writer.join();
    EXPECT_TRUE(written.load());

    // The copy took its own bytes before the source changed, and is read from them now.
    read = copy->BeginColourRead(0);
    EXPECT_EQ(read.data, copy->Storage());
    std::memcpy(&seen, read.data, 4);
    EXPECT_EQ(seen, 0xFF555555u);
    Texture2D::EndColourRead(std::move(read.holder));
}

TEST_F(TextureTest, MultithreadLockIsRecursiveAndExcludesOtherThreads) {
    ComPtr<ID3D11Multithread> multithread;
    ASSERT_EQ(m_device->QueryInterface(IID_PPV_ARGS(&multithread)), S_OK);
    EXPECT_EQ(multithread->GetMultithreadProtected(), FALSE);
    EXPECT_EQ(multithread->SetMultithreadProtected(TRUE), FALSE);
    EXPECT_EQ(multithread->GetMultithreadProtected(), TRUE);

    multithread->Enter();
    multithread->Enter();
    std::atomic<bool> entered{false};
    std::thread other([&] {
        multithread->Enter();
        entered = true;
        multithread->Leave();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered.load());
    multithread->Leave();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(entered.load());
    multithread->Leave();
    other.join();
    EXPECT_TRUE(entered.load());
}

TEST(DeviceCreationTest, ArgumentsAreCheckedAsD3D11ChecksThem) {
    ID3D11Device* device = reinterpret_cast<ID3D11Device*>(std::uintptr_t{1});
    EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                &device, nullptr, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, 6, &device,
                                nullptr, nullptr),
              E_INVALIDARG);
    const D3D_FEATURE_LEVEL twelve = D3D_FEATURE_LEVEL_12_0;
    EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &twelve, 1, D3D11_SDK_VERSION,
                                &device, nullptr, nullptr),
              E_INVALIDARG);
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_12_0, D3D_FEATURE_LEVEL_11_0};
    D3D_FEATURE_LEVEL chosen{};
    ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 2, D3D11_SDK_VERSION,
                                &device, &chosen, nullptr),
              S_OK);
    EXPECT_EQ(chosen, D3D_FEATURE_LEVEL_11_0);
    device->Release();
}

} // namespace
