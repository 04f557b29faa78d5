#pragma once
// The luma of a video sample over a texture (NV12 or another format with an 8-bit first plane), read back
// through a staging copy, with the texture's own height.

#include <d3d11.h>
#include <mfidl.h>

#include <cstdint>
#include <cstring>
#include <vector>

struct SampleLumaPlane {
    std::vector<std::uint8_t> luma; // width x height, packed
    UINT textureHeight = 0;
};

inline SampleLumaPlane SampleLuma(ID3D11Device* device, IMFSample* sample, UINT width, UINT height) {
    SampleLumaPlane plane;
    ComPtr<IMFMediaBuffer> buffer;
    ComPtr<IMFDXGIBuffer> surface;
    ComPtr<ID3D11Texture2D> texture;
    if (FAILED(sample->GetBufferByIndex(0, &buffer)) || FAILED(buffer.As(&surface)) ||
        FAILED(surface->GetResource(IID_PPV_ARGS(&texture))))
        return plane;
    D3D11_TEXTURE2D_DESC desc{};
    texture->GetDesc(&desc);
    plane.textureHeight = desc.Height;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.BindFlags = 0;
    desc.MiscFlags = 0;
    ComPtr<ID3D11Texture2D> staging;
    ComPtr<ID3D11DeviceContext> context;
    device->GetImmediateContext(&context);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(device->CreateTexture2D(&desc, nullptr, &staging)))
        return plane;
    context->CopyResource(staging.Get(), texture.Get());
    if (FAILED(context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped)))
        return plane;
    plane.luma.resize(std::size_t(width) * height);
    for (UINT y = 0; y < height; ++y)
        std::memcpy(&plane.luma[std::size_t(y) * width],
                    static_cast<const BYTE*>(mapped.pData) + y * mapped.RowPitch, width);
    context->Unmap(staging.Get(), 0);
    return plane;
}
