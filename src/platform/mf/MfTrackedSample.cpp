#include "MfTrackedSample.h"

#include <d3d11.h>
#include <mferror.h>
#include <wrl/implements.h>

#include <cassert>

HRESULT MfTrackedSample::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == __uuidof(IMFAttributes) || riid == __uuidof(IMFSample))
        *ppvObject = static_cast<IMFSample*>(this);
    else if (riid == __uuidof(IMFTrackedSample))
        *ppvObject = static_cast<IMFTrackedSample*>(this);
    else {
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG MfTrackedSample::Release() {
    assert(m_refCount > 0 && "m_refCount > 0");
    const ULONG count = --m_refCount;
    if (count != 0)
        return count;
    ComPtr<IMFAsyncCallback> allocator;
    ComPtr<IUnknown> state;
    {
        std::lock_guard lock(m_mutex);
        allocator.Swap(m_allocator);
        state.Swap(m_allocatorState);
    }
    if (!allocator) {
        delete this;
        return 0;
    }
    // Nobody else holds the sample now, so it can come back to life in the result it is handed over in; when
    // the allocator keeps no reference, dropping the result ends up here again with no allocator set.
    ComPtr<IMFAsyncResult> result;
    if (FAILED(MFCreateAsyncResult(static_cast<IMFSample*>(this), allocator.Get(), state.Get(), &result))) {
        delete this;
        return 0;
    }
    allocator->Invoke(result.Get());
    return 0;
}

HRESULT MfTrackedSample::SetAllocator(IMFAsyncCallback* pSampleAllocator, IUnknown* pUnkState) {
    if (pSampleAllocator == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    if (m_allocator)
        return MF_E_NOTACCEPTING;
    m_allocator = pSampleAllocator;
    m_allocatorState = pUnkState;
    return S_OK;
}

HRESULT MFCreateVideoSampleFromSurface(IUnknown* pUnkSurface, IMFSample** ppSample) {
    if (ppSample == nullptr)
        return E_POINTER;
    *ppSample = nullptr;
    return NoThrow([&] {
        ComPtr<IMFSample> inner;
        HRESULT hr = MFCreateSample(&inner);
        if (SUCCEEDED(hr) && pUnkSurface != nullptr) {
            ComPtr<IMFMediaBuffer> buffer;
            hr = MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), pUnkSurface, 0, FALSE, &buffer);
            if (SUCCEEDED(hr))
                hr = inner->AddBuffer(buffer.Get());
        }
        if (FAILED(hr))
            return hr;
        ComPtr<IMFSample> sample;
        sample.Attach(new MfTrackedSample(std::move(inner)));
        *ppSample = sample.Detach();
        return S_OK;
    });
}
