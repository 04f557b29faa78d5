#include <windows.graphics.directx.direct3d11.interop.h>

#include <wrl/implements.h>

#include <utility>

namespace {

// A runtime surface around one texture, which GetInterface answers for.
class RuntimeSurface final : public ComObject<IDirect3DSurface, IDirect3DDxgiInterfaceAccess> {
public:
    explicit RuntimeSurface(ComPtr<IUnknown> inner) : m_inner(std::move(inner)) {}

    HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        return m_inner->QueryInterface(iid, object);
    }

private:
    ComPtr<IUnknown> m_inner;
};

class RuntimeDevice final : public ComObject<IDirect3DDevice, IDirect3DDxgiInterfaceAccess> {
public:
    explicit RuntimeDevice(ComPtr<ID3D11Device> device) : m_device(std::move(device)) {}

    HRESULT STDMETHODCALLTYPE Trim() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        return m_device->QueryInterface(iid, object);
    }

private:
    ComPtr<ID3D11Device> m_device;
};

} // namespace

HRESULT CreateDirect3D11DeviceFromDXGIDevice(IDXGIDevice* dxgiDevice, IUnknown** device) {
    if (device == nullptr)
        return E_POINTER;
    *device = nullptr;
    ComPtr<ID3D11Device> d3dDevice;
    if (dxgiDevice == nullptr || FAILED(dxgiDevice->QueryInterface(IID_PPV_ARGS(&d3dDevice))))
        return E_INVALIDARG;
    auto created = MakeComObject<RuntimeDevice>(std::move(d3dDevice));
    if (!created)
        return E_OUTOFMEMORY;
    *device = static_cast<IDirect3DDevice*>(created.Detach());
    return S_OK;
}

HRESULT CreateDirect3D11SurfaceFromTexture(ID3D11Texture2D* texture, IDirect3DSurface** surface) {
    if (surface == nullptr)
        return E_POINTER;
    *surface = nullptr;
    if (texture == nullptr)
        return E_INVALIDARG;
    auto created = MakeComObject<RuntimeSurface>(ComPtr<IUnknown>(texture));
    if (!created)
        return E_OUTOFMEMORY;
    *surface = created.Detach();
    return S_OK;
}
