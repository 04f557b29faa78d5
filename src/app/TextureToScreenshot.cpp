#include "TextureToScreenshot.h"

#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

// A texture the CPU can read as it is: no staging copy needed.
bool Readable(const D3D11_TEXTURE2D_DESC& descriptor) {
    return descriptor.Usage == D3D11_USAGE_STAGING &&
           (descriptor.CPUAccessFlags & D3D11_CPU_ACCESS_READ) != 0;
}

ComPtr<ID3D11Texture2D> StagingCopy(ID3D11Device* device, ID3D11DeviceContext* context,
                                    ID3D11Texture2D* texture, const D3D11_TEXTURE2D_DESC& textureDescriptor) {
    D3D11_TEXTURE2D_DESC cpuTextureDescriptor{};
    cpuTextureDescriptor.Width = textureDescriptor.Width;
    cpuTextureDescriptor.Height = textureDescriptor.Height;
    cpuTextureDescriptor.Format = textureDescriptor.Format;
    cpuTextureDescriptor.MipLevels = 1;
    cpuTextureDescriptor.ArraySize = 1;
    cpuTextureDescriptor.SampleDesc.Count = 1;
    cpuTextureDescriptor.SampleDesc.Quality = 0;
    cpuTextureDescriptor.Usage = D3D11_USAGE_STAGING;
    cpuTextureDescriptor.BindFlags = 0;
    cpuTextureDescriptor.CPUAccessFlags = D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE;
    cpuTextureDescriptor.MiscFlags = 0;
    ComPtr<ID3D11Texture2D> cpuTexture;
    ThrowIfFailed(device->CreateTexture2D(&cpuTextureDescriptor, nullptr, &cpuTexture),
                  "device->CreateTexture2D( &cpuTextureDescriptor, NULL, &cpuTexture )");
    if (!cpuTexture) {
        LogDebug("Copying Image failed()\n");
        throw std::runtime_error("RTCapture::TextureToScreenshot failed to copy texture to HBITMAP");
    }
    context->CopyResource(cpuTexture.Get(), texture);
    return cpuTexture;
}

// Copies the mapped rows into `bitmap`; rows that are already packed go in without an intermediate copy,
// which at 1080p would be another 8 MB at the moment of the save.
LONG CopyToBitmap(HBITMAP bitmap, const D3D11_MAPPED_SUBRESOURCE& resource, std::size_t width,
                  std::size_t height) {
    const std::size_t rowBytes = width * 4;
    const auto* source = static_cast<const std::uint8_t*>(resource.pData);
    if (resource.RowPitch == rowBytes)
        return SetBitmapBits(bitmap, static_cast<DWORD>(rowBytes * height), source);
    std::vector<std::uint8_t> pixels(rowBytes * height);
    const std::size_t copied = std::min<std::size_t>(resource.RowPitch, rowBytes);
    for (std::size_t y = 0; y < height; ++y)
        std::memcpy(pixels.data() + y * rowBytes, source + y * resource.RowPitch, copied);
    return SetBitmapBits(bitmap, static_cast<DWORD>(pixels.size()), pixels.data());
}

} // namespace

HBITMAP TextureToScreenshot(ID3D11Device* device, ID3D11Texture2D* texture) {
    ComPtr<ID3D11DeviceContext> context;
    device->GetImmediateContext(&context);
    D3D11_TEXTURE2D_DESC textureDescriptor{};
    texture->GetDesc(&textureDescriptor);
    const ComPtr<ID3D11Texture2D> cpuTexture =
        Readable(textureDescriptor) ? ComPtr<ID3D11Texture2D>(texture)
                                    : StagingCopy(device, context.Get(), texture, textureDescriptor);

    const std::size_t width = textureDescriptor.Width;
    const std::size_t height = textureDescriptor.Height;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, static_cast<int>(width), static_cast<int>(height));
    ReleaseDC(nullptr, screen);
    if (bitmap == nullptr)
        throw std::runtime_error("RTCapture::TextureToScreenshot failed to copy texture to HBITMAP");

    const UINT subresource = 0;
    D3D11_MAPPED_SUBRESOURCE resource{};
    const HRESULT hr = context->Map(cpuTexture.Get(), subresource, D3D11_MAP_READ, 0, &resource);
    if (FAILED(hr))
        DeleteObject(bitmap);
    ThrowIfFailed(hr, "context->Map( cpuTexture.Get(), subresource, D3D11_MAP_READ, 0, &resource )");
    const LONG set = CopyToBitmap(bitmap, resource, width, height);
    context->Unmap(cpuTexture.Get(), subresource);
    if (set == 0) {
        DeleteObject(bitmap);
        throw std::runtime_error("RTCapture::TextureToScreenshot failed to copy texture to HBITMAP");
    }
    return bitmap;
}
