#include "Factory.h"

#include "DrmDevices.h"
#include <stringapiset.h>

#include <algorithm>
#include <cstdio>

namespace {

const char* VendorName(UINT vendorId) {
    switch (vendorId) {
    case 0x10DE:
        return "NVIDIA";
    case 0x8086:
        return "Intel";
    case 0x1002:
    case 0x1022:
        return "AMD";
    default:
        return "GPU";
    }
}

void SetDescription(DXGI_ADAPTER_DESC1& desc, const std::string& text) {
    const std::wstring wide = Utf8ToWide(text);
    std::copy_n(wide.begin(), std::min<std::size_t>(wide.size(), 127), desc.Description);
}

AdapterInfo FromDrm(const DrmDevice& device) {
    AdapterInfo info;
    char text[128];
    std::snprintf(text, sizeof(text), "%s %04X (%s, %s)", VendorName(device.vendorId), device.deviceId,
                  device.driver.c_str(), device.busId.c_str());
    SetDescription(info.desc, text);
    info.desc.VendorId = device.vendorId;
    info.desc.DeviceId = device.deviceId;
    info.desc.SubSysId = device.subSysId;
    info.desc.Revision = device.revision;
    info.desc.DedicatedVideoMemory = device.dedicatedVideoMemory;
    info.desc.AdapterLuid = device.luid;
    info.desc.Flags = DXGI_ADAPTER_FLAG_NONE;
    info.driverVersion = device.driverVersion;
    info.pciBusId = device.busId;
    return info;
}

} // namespace

std::vector<AdapterInfo> Factory::SystemAdapters() {
    std::vector<AdapterInfo> adapters;
    for (const DrmDevice& device : EnumerateDrmDevices())
        adapters.push_back(FromDrm(device));
    if (adapters.empty()) {
        AdapterInfo cpu;
        SetDescription(cpu.desc, "CPU (no DRM device)");
        cpu.desc.Flags = DXGI_ADAPTER_FLAG_SOFTWARE;
        adapters.push_back(cpu);
    }
    adapters.front().ownsOutputs = true;
    return adapters;
}

HRESULT Factory::GetParent(REFIID, void** parent) {
    if (parent == nullptr)
        return E_POINTER;
    *parent = nullptr;
    return E_NOINTERFACE;
}

HRESULT Factory::EnumAdapters(UINT index, IDXGIAdapter** adapter) {
    if (adapter == nullptr)
        return E_INVALIDARG;
    IDXGIAdapter1* adapter1 = nullptr;
    const HRESULT hr = EnumAdapters1(index, &adapter1);
    *adapter = adapter1;
    return hr;
}

HRESULT Factory::EnumAdapters1(UINT index, IDXGIAdapter1** adapter) {
    if (adapter == nullptr)
        return E_INVALIDARG;
    *adapter = nullptr;
    if (index >= m_adapters.size())
        return DXGI_ERROR_NOT_FOUND;
    *adapter = MakeComObject<Adapter>(ComPtr<IDXGIFactory1>(this), m_adapters[index]).Detach();
    return *adapter != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CreateDXGIFactory1(REFIID riid, void** factory) {
    if (factory == nullptr)
        return E_POINTER;
    *factory = nullptr;
    const auto created = MakeComObject<Factory>(Factory::SystemAdapters());
    if (!created)
        return E_OUTOFMEMORY;
    return created->QueryInterface(riid, factory);
}
