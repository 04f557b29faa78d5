#include "Device.h"
#include "platform/win/LargeBuffers.h"
#include <d3d11.h>

#include <algorithm>

namespace {

constexpr D3D_FEATURE_LEVEL DefaultLevels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                               D3D_FEATURE_LEVEL_10_0};
// Everything up to 11.1 is offered: textures and copies are all the system asks of a device.
constexpr D3D_FEATURE_LEVEL HighestLevel = D3D_FEATURE_LEVEL_11_1;

HRESULT DefaultAdapter(ComPtr<IDXGIAdapter>& adapter) {
    ComPtr<IDXGIFactory1> factory;
    HRESULT hr = CreateDXGIFactory1(IID_PPV_ARGS(&factory));
    if (FAILED(hr))
        return hr;
    ComPtr<IDXGIAdapter1> first;
    hr = factory->EnumAdapters1(0, &first);
    if (FAILED(hr))
        return hr;
    adapter = first;
    return S_OK;
}

} // namespace

HRESULT D3D11CreateDevice(IDXGIAdapter* adapter, D3D_DRIVER_TYPE driverType, HMODULE software, UINT flags,
                          const D3D_FEATURE_LEVEL* featureLevels, UINT featureLevelCount, UINT sdkVersion,
                          ID3D11Device** device, D3D_FEATURE_LEVEL* featureLevel,
                          ID3D11DeviceContext** immediateContext) {
    ReturnLargeBuffersToSystem();
    if (device != nullptr)
        *device = nullptr;
    if (immediateContext != nullptr)
        *immediateContext = nullptr;
    if (featureLevel != nullptr)
        *featureLevel = static_cast<D3D_FEATURE_LEVEL>(0);
    if (sdkVersion != D3D11_SDK_VERSION || (adapter != nullptr) != (driverType == D3D_DRIVER_TYPE_UNKNOWN) ||
        (driverType == D3D_DRIVER_TYPE_SOFTWARE) != (software != nullptr) ||
        (featureLevels == nullptr && featureLevelCount != 0))
        return E_INVALIDARG;
    if (adapter == nullptr && driverType != D3D_DRIVER_TYPE_HARDWARE && driverType != D3D_DRIVER_TYPE_WARP)
        return DXGI_ERROR_UNSUPPORTED;

    if (featureLevels == nullptr) {
        featureLevels = DefaultLevels;
        featureLevelCount = static_cast<UINT>(std::size(DefaultLevels));
    }
    const D3D_FEATURE_LEVEL* chosen =
        std::find_if(featureLevels, featureLevels + featureLevelCount,
                     [](D3D_FEATURE_LEVEL level) { return level <= HighestLevel; });
    if (chosen == featureLevels + featureLevelCount)
        return E_INVALIDARG;
    if (featureLevel != nullptr)
        *featureLevel = *chosen;
    // Without an out-pointer for the device, D3D11 only reports the level it would create.
    if (device == nullptr && immediateContext == nullptr)
        return S_FALSE;

    ComPtr<IDXGIAdapter> target(adapter);
    if (!target) {
        const HRESULT hr = DefaultAdapter(target);
        if (FAILED(hr))
            return hr;
    }
    const auto created = MakeComObject<Device>(target, *chosen, flags);
    if (!created)
        return E_OUTOFMEMORY;
    if (immediateContext != nullptr)
        created->GetImmediateContext(immediateContext);
    if (device != nullptr)
        *device = ComPtr<ID3D11Device>(created).Detach();
    return S_OK;
}
