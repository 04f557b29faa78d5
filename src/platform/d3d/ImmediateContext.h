#pragma once
// The device's immediate context. It lives inside its device and counts references on it, so neither outlives
// the other. With multithread protection on, each call holds the device lock.

#include <d3d11_1.h>

class Device;

class ImmediateContext final : public ID3D11DeviceContext1 {
public:
    explicit ImmediateContext(Device& device) : m_device(device) {}
    ImmediateContext(const ImmediateContext&) = delete;
    ImmediateContext& operator=(const ImmediateContext&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    void STDMETHODCALLTYPE GetDevice(ID3D11Device** device) override;
    HRESULT STDMETHODCALLTYPE Map(ID3D11Resource* resource, UINT subresource, D3D11_MAP mapType,
                                  UINT mapFlags, D3D11_MAPPED_SUBRESOURCE* mapped) override;
    void STDMETHODCALLTYPE Unmap(ID3D11Resource* resource, UINT subresource) override;
    void STDMETHODCALLTYPE CopySubresourceRegion(ID3D11Resource* dst, UINT dstSubresource, UINT dstX,
                                                 UINT dstY, UINT dstZ, ID3D11Resource* src,
                                                 UINT srcSubresource, const D3D11_BOX* srcBox) override;
    void STDMETHODCALLTYPE CopyResource(ID3D11Resource* dst, ID3D11Resource* src) override;
    void STDMETHODCALLTYPE UpdateSubresource(ID3D11Resource* dst, UINT dstSubresource,
                                             const D3D11_BOX* dstBox, const void* srcData, UINT srcRowPitch,
                                             UINT srcDepthPitch) override;
    void STDMETHODCALLTYPE Flush() override;
    void STDMETHODCALLTYPE DiscardResource(ID3D11Resource* resource) override;

private:
    Device& m_device;
};
