#pragma once
// The DXGI interfaces the system calls: factory, adapters (DRM devices), outputs (RandR monitors), the
// device's DXGI face and desktop duplication.

#include <dxgitype.h>
#include <unknwn.h>

struct IDXGIObject : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) = 0;
};

struct IDXGIDeviceSubObject : IDXGIObject {
    virtual HRESULT STDMETHODCALLTYPE GetDevice(REFIID riid, void** device) = 0;
};

struct IDXGIResource : IDXGIDeviceSubObject {
    virtual HRESULT STDMETHODCALLTYPE GetUsage(UINT* usage) = 0;
};

struct IDXGIOutputDuplication;

struct IDXGIOutput : IDXGIObject {
    virtual HRESULT STDMETHODCALLTYPE GetDesc(DXGI_OUTPUT_DESC* desc) = 0;
};

struct IDXGIOutput1 : IDXGIOutput {
    virtual HRESULT STDMETHODCALLTYPE DuplicateOutput(IUnknown* device,
                                                      IDXGIOutputDuplication** duplication) = 0;
};

struct IDXGIAdapter : IDXGIObject {
    virtual HRESULT STDMETHODCALLTYPE EnumOutputs(UINT index, IDXGIOutput** output) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDesc(DXGI_ADAPTER_DESC* desc) = 0;
    virtual HRESULT STDMETHODCALLTYPE CheckInterfaceSupport(REFGUID interfaceName,
                                                            LARGE_INTEGER* umdVersion) = 0;
};

struct IDXGIAdapter1 : IDXGIAdapter {
    virtual HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_ADAPTER_DESC1* desc) = 0;
};

struct IDXGIDevice : IDXGIObject {
    virtual HRESULT STDMETHODCALLTYPE GetAdapter(IDXGIAdapter** adapter) = 0;
};

struct IDXGIFactory : IDXGIObject {
    virtual HRESULT STDMETHODCALLTYPE EnumAdapters(UINT index, IDXGIAdapter** adapter) = 0;
};

struct IDXGIFactory1 : IDXGIFactory {
    virtual HRESULT STDMETHODCALLTYPE EnumAdapters1(UINT index, IDXGIAdapter1** adapter) = 0;
    virtual BOOL STDMETHODCALLTYPE IsCurrent() = 0;
};

struct IDXGIOutputDuplication : IDXGIObject {
    virtual void STDMETHODCALLTYPE GetDesc(DXGI_OUTDUPL_DESC* desc) = 0;
    // Waits up to timeoutInMilliseconds for a desktop image newer than the last one acquired.
    virtual HRESULT STDMETHODCALLTYPE AcquireNextFrame(UINT timeoutInMilliseconds,
                                                       DXGI_OUTDUPL_FRAME_INFO* frameInfo,
                                                       IDXGIResource** desktopResource) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseFrame() = 0;
};

PYX_INTERFACE_ID(IDXGIObject, IUnknown, "aec22fb8-76f3-4639-9be0-28eb43a67a2e");
PYX_INTERFACE_ID(IDXGIDeviceSubObject, IDXGIObject, "3d3e0379-f9de-4d58-bb6c-18d62992f1a6");
PYX_INTERFACE_ID(IDXGIResource, IDXGIDeviceSubObject, "035f3ab4-482e-4e50-b41f-8a7f8bd8960b");
PYX_INTERFACE_ID(IDXGIOutput, IDXGIObject, "ae02eedb-c735-4690-8d52-5a8dc20213aa");
PYX_INTERFACE_ID(IDXGIOutput1, IDXGIOutput, "00cddea8-939b-4b83-a340-a685226666cc");
PYX_INTERFACE_ID(IDXGIAdapter, IDXGIObject, "2411e7e1-12ac-4ccf-bd14-9798e8534dc0");
PYX_INTERFACE_ID(IDXGIAdapter1, IDXGIAdapter, "29038f61-3839-4626-91fd-086879011a05");
PYX_INTERFACE_ID(IDXGIDevice, IDXGIObject, "54ec77fa-1377-44e6-8c32-88fd5f44c84c");
PYX_INTERFACE_ID(IDXGIFactory, IDXGIObject, "7b7166ec-21c7-44ae-b21a-c9ae321ae369");
PYX_INTERFACE_ID(IDXGIFactory1, IDXGIFactory, "770aae78-f26f-4dba-a829-253c83d1b387");
PYX_INTERFACE_ID(IDXGIOutputDuplication, IDXGIObject, "191cfac3-a341-470d-b26e-a864f428319c");

HRESULT CreateDXGIFactory1(REFIID riid, void** factory);
