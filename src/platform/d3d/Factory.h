#pragma once
// The DXGI factory: the adapters found when it was created.

#include "Adapter.h"

#include <vector>

class Factory final : public ComObject<IDXGIFactory1> {
public:
    explicit Factory(std::vector<AdapterInfo> adapters) : m_adapters(std::move(adapters)) {}

    // The adapters of this machine: its DRM devices, or one software adapter (vendor 0) when it has none.
    static std::vector<AdapterInfo> SystemAdapters();

    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) override;
    HRESULT STDMETHODCALLTYPE EnumAdapters(UINT index, IDXGIAdapter** adapter) override;
    HRESULT STDMETHODCALLTYPE EnumAdapters1(UINT index, IDXGIAdapter1** adapter) override;
    BOOL STDMETHODCALLTYPE IsCurrent() override { return TRUE; }

private:
    std::vector<AdapterInfo> m_adapters;
};
