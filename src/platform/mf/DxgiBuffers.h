#pragma once
// Video samples over Direct3D 11 textures: the DXGI surface buffer (IMFDXGIBuffer with IMF2DBuffer), tracked
// samples that call their allocator back when the last reference goes, and the DXGI device manager through
// which transforms share a device.

#include "Async.h"
#include "MediaBuffer.h"
#include "Sample.h"

struct IMF2DBuffer : IUnknown {
    // The first row and the row pitch, in place; the texture stays locked until Unlock2D.
    virtual HRESULT STDMETHODCALLTYPE Lock2D(BYTE** ppbScanline0, LONG* plPitch) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unlock2D() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetScanline0AndPitch(BYTE** pbScanline0, LONG* plPitch) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsContiguousFormat(BOOL* pfIsContiguous) = 0;
    // The size of the image with rows packed (no pitch padding), planes one after another.
    virtual HRESULT STDMETHODCALLTYPE GetContiguousLength(DWORD* pcbLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE ContiguousCopyTo(BYTE* pbDestBuffer, DWORD cbDestBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE ContiguousCopyFrom(const BYTE* pbSrcBuffer, DWORD cbSrcBuffer) = 0;

protected:
    ~IMF2DBuffer() = default;
};

PYX_INTERFACE_ID(IMF2DBuffer, IUnknown, "7dc9d5f9-9ed9-44ec-9bbf-0600bb589fbb");

struct IMFDXGIBuffer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetResource(REFIID riid, LPVOID* ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubresourceIndex(UINT* puSubresource) = 0;

protected:
    ~IMFDXGIBuffer() = default;
};

PYX_INTERFACE_ID(IMFDXGIBuffer, IUnknown, "e7174cfa-1c9e-48b1-8866-626226bfc258");

struct IMFTrackedSample : IUnknown {
    // When the last reference to the sample goes, pSampleAllocator->Invoke runs on that thread with a result
    // whose object is the sample; the allocator is forgotten then and must be set again for the next round.
    // MF_E_NOTACCEPTING while one is already set.
    virtual HRESULT STDMETHODCALLTYPE SetAllocator(IMFAsyncCallback* pSampleAllocator,
                                                   IUnknown* pUnkState) = 0;

protected:
    ~IMFTrackedSample() = default;
};

PYX_INTERFACE_ID(IMFTrackedSample, IUnknown, "245bf8e9-0755-40f7-88a5-ae0f18d55e17");

struct IMFDXGIDeviceManager : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CloseDeviceHandle(HANDLE hDevice) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoService(HANDLE hDevice, REFIID riid, void** ppService) = 0;
    // One handle holds the device at a time; fBlock waits for it, otherwise MF_E_DXGI_VIDEO_DEVICE_LOCKED.
    virtual HRESULT STDMETHODCALLTYPE LockDevice(HANDLE hDevice, REFIID riid, void** ppUnkDevice,
                                                 BOOL fBlock) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenDeviceHandle(HANDLE* phDevice) = 0;
    // Replaces the device; handles opened before answer MF_E_DXGI_NEW_VIDEO_DEVICE from then on.
    virtual HRESULT STDMETHODCALLTYPE ResetDevice(IUnknown* pUnkDevice, UINT resetToken) = 0;
    virtual HRESULT STDMETHODCALLTYPE TestDevice(HANDLE hDevice) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockDevice(HANDLE hDevice, BOOL fSaveState) = 0;

protected:
    ~IMFDXGIDeviceManager() = default;
};

PYX_INTERFACE_ID(IMFDXGIDeviceManager, IUnknown, "eb533d5d-2db6-40f8-97a9-494692014f07");

// riid must be __uuidof(ID3D11Texture2D); the buffer's length is its contiguous length.
HRESULT MFCreateDXGISurfaceBuffer(REFIID riid, IUnknown* punkSurface, UINT uSubresourceIndex,
                                  BOOL fBottomUpWhenLinear, IMFMediaBuffer** ppBuffer);
// A tracked sample (IMFTrackedSample); with a texture it already holds a surface buffer over it.
HRESULT MFCreateVideoSampleFromSurface(IUnknown* pUnkSurface, IMFSample** ppSample);
HRESULT MFCreateDXGIDeviceManager(UINT* resetToken, IMFDXGIDeviceManager** ppDeviceManager);
