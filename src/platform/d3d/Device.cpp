#include "Device.h"

#include "Texture2D.h"

#include <utility>

Device::Device(ComPtr<IDXGIAdapter> adapter, D3D_FEATURE_LEVEL featureLevel, UINT creationFlags)
    : m_adapter(std::move(adapter)), m_featureLevel(featureLevel), m_creationFlags(creationFlags) {}

std::unique_lock<std::recursive_mutex> Device::ContextLock() {
    if (!m_protected.load())
        return {};
    return std::unique_lock(m_lock);
}

HRESULT Device::CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc, const D3D11_SUBRESOURCE_DATA* initialData,
                                ID3D11Texture2D** texture) {
    if (texture != nullptr)
        *texture = nullptr;
    if (desc == nullptr)
        return E_INVALIDARG;
    // Without an out-pointer D3D11 only validates the description.
    if (texture == nullptr) {
        const HRESULT hr = Texture2D::Validate(*desc, initialData);
        return FAILED(hr) ? hr : S_FALSE;
    }
    ComPtr<Texture2D> created;
    const HRESULT hr = Texture2D::Create(this, *desc, initialData, created);
    if (FAILED(hr))
        return hr;
    *texture = created.Detach();
    return S_OK;
}

HRESULT Device::CheckFormatSupport(DXGI_FORMAT format, UINT* formatSupport) {
    if (formatSupport == nullptr)
        return E_INVALIDARG;
    *formatSupport = 0;
    if (LookUpFormatLayout(format) == nullptr)
        return E_FAIL;
    *formatSupport = D3D11_FORMAT_SUPPORT_TEXTURE2D | D3D11_FORMAT_SUPPORT_RENDER_TARGET |
                     D3D11_FORMAT_SUPPORT_CPU_LOCKABLE;
    return S_OK;
}

void Device::GetImmediateContext(ID3D11DeviceContext** context) {
    if (context == nullptr)
        return;
    m_context.AddRef();
    *context = &m_context;
}

HRESULT Device::GetParent(REFIID riid, void** parent) {
    if (parent == nullptr)
        return E_POINTER;
    *parent = nullptr;
    return m_adapter->QueryInterface(riid, parent);
}

HRESULT Device::GetAdapter(IDXGIAdapter** adapter) {
    if (adapter == nullptr)
        return E_POINTER;
    return m_adapter.CopyTo(adapter);
}

BOOL Device::SetMultithreadProtected(BOOL protect) {
    return m_protected.exchange(protect != FALSE) ? TRUE : FALSE;
}
