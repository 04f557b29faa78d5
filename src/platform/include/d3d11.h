#pragma once
// Direct3D 11 on CPU memory: the device, the immediate context, 2D textures and the multithread lock, with
// the Windows descriptions, flags and result codes.

#include <dxgi.h>

enum D3D_DRIVER_TYPE : UINT {
    D3D_DRIVER_TYPE_UNKNOWN = 0,
    D3D_DRIVER_TYPE_HARDWARE = 1,
    D3D_DRIVER_TYPE_REFERENCE = 2,
    D3D_DRIVER_TYPE_NULL = 3,
    D3D_DRIVER_TYPE_SOFTWARE = 4,
    D3D_DRIVER_TYPE_WARP = 5,
};

enum D3D_FEATURE_LEVEL : UINT {
    D3D_FEATURE_LEVEL_9_1 = 0x9100,
    D3D_FEATURE_LEVEL_9_2 = 0x9200,
    D3D_FEATURE_LEVEL_9_3 = 0x9300,
    D3D_FEATURE_LEVEL_10_0 = 0xa000,
    D3D_FEATURE_LEVEL_10_1 = 0xa100,
    D3D_FEATURE_LEVEL_11_0 = 0xb000,
    D3D_FEATURE_LEVEL_11_1 = 0xb100,
    D3D_FEATURE_LEVEL_12_0 = 0xc000,
};

enum D3D11_USAGE : UINT {
    D3D11_USAGE_DEFAULT = 0,
    D3D11_USAGE_IMMUTABLE = 1,
    D3D11_USAGE_DYNAMIC = 2,
    D3D11_USAGE_STAGING = 3,
};

enum D3D11_MAP : UINT {
    D3D11_MAP_READ = 1,
    D3D11_MAP_WRITE = 2,
    D3D11_MAP_READ_WRITE = 3,
    D3D11_MAP_WRITE_DISCARD = 4,
    D3D11_MAP_WRITE_NO_OVERWRITE = 5,
};

enum D3D11_RESOURCE_DIMENSION : UINT {
    D3D11_RESOURCE_DIMENSION_UNKNOWN = 0,
    D3D11_RESOURCE_DIMENSION_BUFFER = 1,
    D3D11_RESOURCE_DIMENSION_TEXTURE1D = 2,
    D3D11_RESOURCE_DIMENSION_TEXTURE2D = 3,
    D3D11_RESOURCE_DIMENSION_TEXTURE3D = 4,
};

constexpr UINT D3D11_SDK_VERSION = 7;
constexpr UINT D3D11_CREATE_DEVICE_SINGLETHREADED = 0x1;
constexpr UINT D3D11_CREATE_DEVICE_DEBUG = 0x2;
constexpr UINT D3D11_CREATE_DEVICE_BGRA_SUPPORT = 0x20;
constexpr UINT D3D11_CREATE_DEVICE_VIDEO_SUPPORT = 0x800;

constexpr UINT D3D11_BIND_SHADER_RESOURCE = 0x8;
constexpr UINT D3D11_BIND_RENDER_TARGET = 0x20;
constexpr UINT D3D11_BIND_UNORDERED_ACCESS = 0x80;
constexpr UINT D3D11_BIND_DECODER = 0x200;
constexpr UINT D3D11_BIND_VIDEO_ENCODER = 0x400;

constexpr UINT D3D11_CPU_ACCESS_WRITE = 0x10000;
constexpr UINT D3D11_CPU_ACCESS_READ = 0x20000;

constexpr UINT D3D11_RESOURCE_MISC_SHARED = 0x2;
constexpr UINT D3D11_RESOURCE_MISC_SHARED_KEYEDMUTEX = 0x100;
constexpr UINT D3D11_RESOURCE_MISC_SHARED_NTHANDLE = 0x800;

constexpr UINT D3D11_FORMAT_SUPPORT_TEXTURE2D = 0x20;
constexpr UINT D3D11_FORMAT_SUPPORT_RENDER_TARGET = 0x4000;
constexpr UINT D3D11_FORMAT_SUPPORT_CPU_LOCKABLE = 0x20000;

// Largest width or height of a 2D texture at feature level 11.
constexpr UINT D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION = 16384;

struct D3D11_TEXTURE2D_DESC {
    UINT Width;
    UINT Height;
    UINT MipLevels;
    UINT ArraySize;
    DXGI_FORMAT Format;
    DXGI_SAMPLE_DESC SampleDesc;
    D3D11_USAGE Usage;
    UINT BindFlags;
    UINT CPUAccessFlags;
    UINT MiscFlags;
};

// The description helper of d3d11.h, with its argument order and defaults (give mipLevels 1: this platform
// has no mip chains).
struct CD3D11_TEXTURE2D_DESC : D3D11_TEXTURE2D_DESC {
    explicit CD3D11_TEXTURE2D_DESC(DXGI_FORMAT format, UINT width, UINT height, UINT arraySize = 1,
                                   UINT mipLevels = 0, UINT bindFlags = D3D11_BIND_SHADER_RESOURCE,
                                   D3D11_USAGE usage = D3D11_USAGE_DEFAULT, UINT cpuAccessFlags = 0,
                                   UINT sampleCount = 1, UINT sampleQuality = 0, UINT miscFlags = 0)
        : D3D11_TEXTURE2D_DESC{
              width, height,    mipLevels,      arraySize, format, {sampleCount, sampleQuality},
              usage, bindFlags, cpuAccessFlags, miscFlags} {}
};

struct D3D11_SUBRESOURCE_DATA {
    const void* pSysMem;
    UINT SysMemPitch;
    UINT SysMemSlicePitch;
};

struct D3D11_MAPPED_SUBRESOURCE {
    void* pData;
    UINT RowPitch;
    UINT DepthPitch;
};

struct D3D11_BOX {
    UINT left;
    UINT top;
    UINT front;
    UINT right;
    UINT bottom;
    UINT back;
};

constexpr UINT D3D11CalcSubresource(UINT mipSlice, UINT arraySlice, UINT mipLevels) {
    return mipSlice + arraySlice * mipLevels;
}

struct ID3D11Device;

struct ID3D11DeviceChild : IUnknown {
    virtual void STDMETHODCALLTYPE GetDevice(ID3D11Device** device) = 0;
};

struct ID3D11Resource : ID3D11DeviceChild {
    virtual void STDMETHODCALLTYPE GetType(D3D11_RESOURCE_DIMENSION* dimension) = 0;
};

struct ID3D11Texture2D : ID3D11Resource {
    virtual void STDMETHODCALLTYPE GetDesc(D3D11_TEXTURE2D_DESC* desc) = 0;
};

struct ID3D11DeviceContext : ID3D11DeviceChild {
    virtual HRESULT STDMETHODCALLTYPE Map(ID3D11Resource* resource, UINT subresource, D3D11_MAP mapType,
                                          UINT mapFlags, D3D11_MAPPED_SUBRESOURCE* mapped) = 0;
    virtual void STDMETHODCALLTYPE Unmap(ID3D11Resource* resource, UINT subresource) = 0;
    virtual void STDMETHODCALLTYPE CopySubresourceRegion(ID3D11Resource* dst, UINT dstSubresource, UINT dstX,
                                                         UINT dstY, UINT dstZ, ID3D11Resource* src,
                                                         UINT srcSubresource, const D3D11_BOX* srcBox) = 0;
    virtual void STDMETHODCALLTYPE CopyResource(ID3D11Resource* dst, ID3D11Resource* src) = 0;
    virtual void STDMETHODCALLTYPE UpdateSubresource(ID3D11Resource* dst, UINT dstSubresource,
                                                     const D3D11_BOX* dstBox, const void* srcData,
                                                     UINT srcRowPitch, UINT srcDepthPitch) = 0;
    virtual void STDMETHODCALLTYPE Flush() = 0;
};

struct ID3D11Device : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc,
                                                      const D3D11_SUBRESOURCE_DATA* initialData,
                                                      ID3D11Texture2D** texture) = 0;
    virtual HRESULT STDMETHODCALLTYPE CheckFormatSupport(DXGI_FORMAT format, UINT* formatSupport) = 0;
    virtual D3D_FEATURE_LEVEL STDMETHODCALLTYPE GetFeatureLevel() = 0;
    virtual UINT STDMETHODCALLTYPE GetCreationFlags() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceRemovedReason() = 0;
    virtual void STDMETHODCALLTYPE GetImmediateContext(ID3D11DeviceContext** context) = 0;
};

// With protection on, every immediate-context call takes the device lock; Enter/Leave hold it across calls.
// The lock is recursive.
struct ID3D11Multithread : IUnknown {
    virtual void STDMETHODCALLTYPE Enter() = 0;
    virtual void STDMETHODCALLTYPE Leave() = 0;
    virtual BOOL STDMETHODCALLTYPE SetMultithreadProtected(BOOL protect) = 0;
    virtual BOOL STDMETHODCALLTYPE GetMultithreadProtected() = 0;
};

PYX_INTERFACE_ID(ID3D11DeviceChild, IUnknown, "1841e5c8-16b0-489b-bcc8-44cfb0d5deae");
PYX_INTERFACE_ID(ID3D11Resource, ID3D11DeviceChild, "dc8e63f3-d12b-4952-b47b-5e45026a862d");
PYX_INTERFACE_ID(ID3D11Texture2D, ID3D11Resource, "6f15aaf2-d208-4e89-9ab4-489535d34f9c");
PYX_INTERFACE_ID(ID3D11DeviceContext, ID3D11DeviceChild, "c0bfa96c-e089-44fb-8eaf-26f8796190da");
PYX_INTERFACE_ID(ID3D11Device, IUnknown, "db6f6ddb-ac77-4e88-8253-819df9bbf140");
PYX_INTERFACE_ID(ID3D11Multithread, IUnknown, "9b7e4e00-342c-4106-a19f-4f2704f689f0");

HRESULT D3D11CreateDevice(IDXGIAdapter* adapter, D3D_DRIVER_TYPE driverType, HMODULE software, UINT flags,
                          const D3D_FEATURE_LEVEL* featureLevels, UINT featureLevelCount, UINT sdkVersion,
                          ID3D11Device** device, D3D_FEATURE_LEVEL* featureLevel,
                          ID3D11DeviceContext** immediateContext);
