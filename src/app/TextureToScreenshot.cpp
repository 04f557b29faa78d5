#include "TextureToScreenshot.h"

#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

HBITMAP TextureToScreenshot(ID3D11Device* device, ID3D11Texture2D* texture) {
    ComPtr<ID3D11DeviceContext> context;
    device->GetImmediateContext(&context);
    D3D11_TEXTURE2D_DESC textureDescriptor{};
    texture->GetDesc(&textureDescriptor);

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

    const UINT subresource = 0;
    D3D11_MAPPED_SUBRESOURCE resource{};
    ThrowIfFailed(context->Map(cpuTexture.Get(), subresource, D3D11_MAP_READ, 0, &resource),
                  "context->Map( cpuTexture.Get(), subresource, D3D11_MAP_READ, 0, &resource )");
    const std::size_t width = cpuTextureDescriptor.Width;
    const std::size_t height = cpuTextureDescriptor.Height;
    const std::size_t rowBytes = width * 4;
    std::vector<std::uint8_t> pixels(rowBytes * height);
    const auto* source = static_cast<const std::uint8_t*>(resource.pData);
    const std::size_t copied = std::min<std::size_t>(resource.RowPitch, rowBytes);
    for (std::size_t y = 0; y < height; ++y)
        std::memcpy(pixels.data() + y * rowBytes, source + y * resource.RowPitch, copied);
    context->Unmap(cpuTexture.Get(), subresource);

    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, static_cast<int>(width), static_cast<int>(height));
    const LONG set =
        bitmap != nullptr ? SetBitmapBits(bitmap, static_cast<DWORD>(pixels.size()), pixels.data()) : 0;
    ReleaseDC(nullptr, screen);
    if (set == 0) {
        if (bitmap != nullptr)
            DeleteObject(bitmap);
        throw std::runtime_error("RTCapture::TextureToScreenshot failed to copy texture to HBITMAP");
    }
    return bitmap;
}
