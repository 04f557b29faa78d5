#pragma once
// A DXGI adapter: one DRM device, or the CPU when the machine has none. The display adapter (the first one)
// owns the outputs, which are the current RandR monitors.

#include <dxgi.h>
#include <wrl/implements.h>

#include <string>

struct AdapterInfo {
    DXGI_ADAPTER_DESC1 desc{};
    UINT64 driverVersion = 0;
    std::string pciBusId;
    bool ownsOutputs = false;
};

class Adapter final : public ComObject<IDXGIAdapter1> {
public:
    Adapter(ComPtr<IDXGIFactory1> factory, const AdapterInfo& info);

    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) override;
    HRESULT STDMETHODCALLTYPE EnumOutputs(UINT index, IDXGIOutput** output) override;
    HRESULT STDMETHODCALLTYPE GetDesc(DXGI_ADAPTER_DESC* desc) override;
    HRESULT STDMETHODCALLTYPE CheckInterfaceSupport(REFGUID interfaceName,
                                                    LARGE_INTEGER* umdVersion) override;
    HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_ADAPTER_DESC1* desc) override;

    const std::string& PciBusId() const { return m_info.pciBusId; }

private:
    ComPtr<IDXGIFactory1> m_factory;
    AdapterInfo m_info;
};
