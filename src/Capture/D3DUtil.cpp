#include "D3DUtil.h"

#include "GpuList.h"
#include "Util/Logger.h"
#include <wrl/client.h>

#include <cstring>

namespace {

bool SameLuid(const LUID& a, const LUID& b) { return a.LowPart == b.LowPart && a.HighPart == b.HighPart; }

// The adapter of the first GPU with `monitor` among its outputs, found again by LUID; null when none.
ComPtr<IDXGIAdapter1> AdapterForMonitor(HMONITOR monitor) {
    if (monitor == nullptr)
        return nullptr;
    const GpuInfo* match = nullptr;
    for (const GpuInfo& gpu : GpuList::Get()) {
        for (UINT o = 0; o < gpu.outputCount && match == nullptr; ++o)
            if (gpu.outputs[o].Monitor == monitor)
                match = &gpu;
        if (match != nullptr)
            break;
    }
    if (match == nullptr)
        return nullptr;
    ComPtr<IDXGIFactory1> factory;
    if (FAILED(CreateDXGIFactory1(IID_PPV_ARGS(&factory))))
        return nullptr;
    ComPtr<IDXGIAdapter1> adapter;
    for (UINT index = 0; factory->EnumAdapters1(index, &adapter) != DXGI_ERROR_NOT_FOUND; ++index) {
        DXGI_ADAPTER_DESC1 desc{};
        if (adapter && SUCCEEDED(adapter->GetDesc1(&desc)) &&
            SameLuid(desc.AdapterLuid, match->adapterDesc.AdapterLuid))
            return adapter;
    }
    return nullptr;
}

// The adapter behind the device; null for no device or a failed query.
ComPtr<IDXGIAdapter> AdapterOf(ID3D11Device* device) {
    ComPtr<IDXGIDevice> dxgiDevice;
    ComPtr<IDXGIAdapter> adapter;
    if (device == nullptr || FAILED(device->QueryInterface(IID_PPV_ARGS(&dxgiDevice))) ||
        FAILED(dxgiDevice->GetAdapter(&adapter)))
        return nullptr;
    return adapter;
}

} // namespace

HRESULT D3DUtil::CreateD3D11Device(ID3D11Device** device, HMONITOR monitor) {
    if (device == nullptr)
        return E_POINTER;
    *device = nullptr;
    GpuList::Get();
    const ComPtr<IDXGIAdapter1> adapter = AdapterForMonitor(monitor);
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0};
    D3D_FEATURE_LEVEL level{};
    ComPtr<ID3D11Device> created;
    const HRESULT hr = D3D11CreateDevice(
        adapter.Get(), adapter ? D3D_DRIVER_TYPE_UNKNOWN : D3D_DRIVER_TYPE_HARDWARE, nullptr,
        D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels, 1, D3D11_SDK_VERSION, &created, &level, nullptr);
    if (FAILED(hr)) {
        LogError("D3D11CreateDevice() failed with 0x%08lx",
                 static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
        return hr;
    }
    LogInfo("D3D11CreateDevice() succeeded. Feature level = %d.%d", static_cast<int>(level >> 12),
            static_cast<int>((level >> 8) & 0xF));
    ComPtr<IDXGIDevice> dxgiDevice;
    ComPtr<IDXGIAdapter> deviceAdapter;
    DXGI_ADAPTER_DESC desc{};
    if (SUCCEEDED(created->QueryInterface(IID_PPV_ARGS(&dxgiDevice))) &&
        SUCCEEDED(dxgiDevice->GetAdapter(&deviceAdapter)) && SUCCEEDED(deviceAdapter->GetDesc(&desc)))
        LogInfo("Selected GPU %S (VendorID:%X)", desc.Description, desc.VendorId);
    *device = created.Detach();
    return S_OK;
}

UINT64 D3DUtil::GetDeviceDriverVersion(ID3D11Device* device) {
    const ComPtr<IDXGIAdapter> adapter = AdapterOf(device);
    LARGE_INTEGER version{};
    if (!adapter || FAILED(adapter->CheckInterfaceSupport(__uuidof(IDXGIDevice), &version)))
        return 0;
    return static_cast<UINT64>(version.QuadPart);
}

UINT D3DUtil::GetDeviceVendor(ID3D11Device* device) {
    const ComPtr<IDXGIAdapter> adapter = AdapterOf(device);
    DXGI_ADAPTER_DESC desc{};
    if (!adapter || FAILED(adapter->GetDesc(&desc)))
        return 0;
    return desc.VendorId;
}
