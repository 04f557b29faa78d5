#pragma once
// The runtime's Direct3D wrappers: a device or surface object that hands out the DXGI/D3D11 object behind it
// through IDirect3DDxgiInterfaceAccess.

#include <d3d11.h>
#include <wrl/client.h>

struct IDirect3DDxgiInterfaceAccess : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void** object) = 0;
};

struct IDirect3DDevice : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Trim() = 0;
};

struct IDirect3DSurface : IUnknown {};

PYX_INTERFACE_ID(IDirect3DDxgiInterfaceAccess, IUnknown, "a9b3d012-3df2-4ee3-b8d1-8695f457d3c1");
PYX_INTERFACE_ID(IDirect3DDevice, IUnknown, "a37624ab-8d5f-4650-9d3e-9eae3d9bc670");
PYX_INTERFACE_ID(IDirect3DSurface, IUnknown, "0bf4a146-13c1-4694-bee3-7abf5f69f01e");

// Wraps a device of this platform; E_INVALIDARG for anything else.
HRESULT CreateDirect3D11DeviceFromDXGIDevice(IDXGIDevice* dxgiDevice, IUnknown** device);
// Wraps a texture as a runtime surface.
HRESULT CreateDirect3D11SurfaceFromTexture(ID3D11Texture2D* texture, IDirect3DSurface** surface);
