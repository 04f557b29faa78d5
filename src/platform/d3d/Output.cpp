#include "Output.h"

#include "OutputDuplication.h"
#include <d3d11.h>

#include <utility>

Output::Output(ComPtr<IDXGIAdapter> adapter, const DXGI_OUTPUT_DESC& desc)
    : m_adapter(std::move(adapter)), m_desc(desc) {}

HRESULT Output::GetParent(REFIID riid, void** parent) {
    if (parent == nullptr)
        return E_POINTER;
    *parent = nullptr;
    return m_adapter->QueryInterface(riid, parent);
}

HRESULT Output::GetDesc(DXGI_OUTPUT_DESC* desc) {
    if (desc == nullptr)
        return E_INVALIDARG;
    *desc = m_desc;
    return S_OK;
}

HRESULT Output::DuplicateOutput(IUnknown* device, IDXGIOutputDuplication** duplication) {
    if (duplication == nullptr)
        return E_INVALIDARG;
    *duplication = nullptr;
    ComPtr<ID3D11Device> d3dDevice;
    if (device == nullptr || FAILED(device->QueryInterface(IID_PPV_ARGS(&d3dDevice))))
        return E_INVALIDARG;
    ComPtr<IDXGIOutputDuplication> created;
    const HRESULT hr = OutputDuplication::Create(d3dDevice.Get(), this, m_desc, created);
    if (SUCCEEDED(hr))
        *duplication = created.Detach();
    return hr;
}
