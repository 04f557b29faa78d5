#pragma once
// The Direct3D 11 device: creates CPU-memory textures, owns the immediate context and the recursive lock of
// ID3D11Multithread, and answers as an IDXGIDevice of its adapter.

#include "ImmediateContext.h"
#include <d3d11.h>
#include <wrl/implements.h>

#include <atomic>
#include <mutex>

class Device final : public ComObject<ID3D11Device, IDXGIDevice, ID3D11Multithread> {
public:
    Device(ComPtr<IDXGIAdapter> adapter, D3D_FEATURE_LEVEL featureLevel, UINT creationFlags);

    // Holds the device lock while multithread protection is on; an empty lock otherwise.
    std::unique_lock<std::recursive_mutex> ContextLock();

    // ID3D11Device
    HRESULT STDMETHODCALLTYPE CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc,
                                              const D3D11_SUBRESOURCE_DATA* initialData,
                                              ID3D11Texture2D** texture) override;
    HRESULT STDMETHODCALLTYPE CheckFormatSupport(DXGI_FORMAT format, UINT* formatSupport) override;
    D3D_FEATURE_LEVEL STDMETHODCALLTYPE GetFeatureLevel() override { return m_featureLevel; }
    UINT STDMETHODCALLTYPE GetCreationFlags() override { return m_creationFlags; }
    HRESULT STDMETHODCALLTYPE GetDeviceRemovedReason() override { return S_OK; }
    void STDMETHODCALLTYPE GetImmediateContext(ID3D11DeviceContext** context) override;

    // IDXGIObject, IDXGIDevice
    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) override;
    HRESULT STDMETHODCALLTYPE GetAdapter(IDXGIAdapter** adapter) override;

    // ID3D11Multithread
    void STDMETHODCALLTYPE Enter() override { m_lock.lock(); }
    void STDMETHODCALLTYPE Leave() override { m_lock.unlock(); }
    BOOL STDMETHODCALLTYPE SetMultithreadProtected(BOOL protect) override;
    BOOL STDMETHODCALLTYPE GetMultithreadProtected() override { return m_protected.load() ? TRUE : FALSE; }

private:
    ComPtr<IDXGIAdapter> m_adapter;
    D3D_FEATURE_LEVEL m_featureLevel;
    UINT m_creationFlags;
    std::recursive_mutex m_lock;
    std::atomic<bool> m_protected{false};
    ImmediateContext m_context{*this};
};
