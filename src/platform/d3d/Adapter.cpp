#include "Adapter.h"

#include "Output.h"
#include "platform/x11/Monitors.h"
#include <pyx/AdapterBusId.h>
#include <stringapiset.h>

#include <algorithm>
#include <utility>

Adapter::Adapter(ComPtr<IDXGIFactory1> factory, const AdapterInfo& info)
    : m_factory(std::move(factory)), m_info(info) {}

HRESULT Adapter::GetParent(REFIID riid, void** parent) {
    if (parent == nullptr)
        return E_POINTER;
    *parent = nullptr;
    return m_factory->QueryInterface(riid, parent);
}

HRESULT Adapter::EnumOutputs(UINT index, IDXGIOutput** output) {
    if (output == nullptr)
        return E_INVALIDARG;
    *output = nullptr;
    if (!m_info.ownsOutputs)
        return DXGI_ERROR_NOT_FOUND;
    const auto monitors = x11::QueryMonitors();
    if (index >= monitors.size())
        return DXGI_ERROR_NOT_FOUND;
    const x11::MonitorInfo& monitor = monitors[index];
    DXGI_OUTPUT_DESC desc{};
    const std::wstring name = Utf8ToWide(monitor.name);
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 31), desc.DeviceName);
    desc.DesktopCoordinates = RECT{monitor.x, monitor.y, monitor.x + static_cast<LONG>(monitor.width),
                                   monitor.y + static_cast<LONG>(monitor.height)};
    desc.AttachedToDesktop = TRUE;
    // The X screen already shows the monitor upright, so its images need no rotation.
    desc.Rotation = DXGI_MODE_ROTATION_IDENTITY;
    desc.Monitor = reinterpret_cast<HMONITOR>(static_cast<std::uintptr_t>(monitor.id));
    *output = MakeComObject<Output>(ComPtr<IDXGIAdapter>(this), desc).Detach();
    return *output != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Adapter::GetDesc(DXGI_ADAPTER_DESC* desc) {
    if (desc == nullptr)
        return E_INVALIDARG;
    *desc = m_info.desc;
    return S_OK;
}

HRESULT Adapter::GetDesc1(DXGI_ADAPTER_DESC1* desc) {
    if (desc == nullptr)
        return E_INVALIDARG;
    *desc = m_info.desc;
    return S_OK;
}

HRESULT Adapter::CheckInterfaceSupport(REFGUID interfaceName, LARGE_INTEGER* umdVersion) {
    if (umdVersion != nullptr)
        umdVersion->QuadPart = 0;
    if (interfaceName != __uuidof(IDXGIDevice))
        return DXGI_ERROR_UNSUPPORTED;
    if (umdVersion != nullptr)
        umdVersion->QuadPart = static_cast<LONGLONG>(m_info.driverVersion);
    return S_OK;
}

std::string AdapterPciBusId(IDXGIAdapter* adapter) {
    const auto* ours = dynamic_cast<Adapter*>(adapter);
    return ours != nullptr ? ours->PciBusId() : std::string();
}
