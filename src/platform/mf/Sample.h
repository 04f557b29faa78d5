#pragma once
// IMFSample: a time-stamped list of media buffers with attributes.

#include "Attributes.h"
#include "MediaBuffer.h"

struct IMFSample : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE GetSampleFlags(DWORD* pdwSampleFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSampleFlags(DWORD dwSampleFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSampleTime(LONGLONG* phnsSampleTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSampleTime(LONGLONG hnsSampleTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSampleDuration(LONGLONG* phnsSampleDuration) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSampleDuration(LONGLONG hnsSampleDuration) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferCount(DWORD* pdwBufferCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferByIndex(DWORD dwIndex, IMFMediaBuffer** ppBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConvertToContiguousBuffer(IMFMediaBuffer** ppBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddBuffer(IMFMediaBuffer* pBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveBufferByIndex(DWORD dwIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveAllBuffers() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTotalLength(DWORD* pcbTotalLength) = 0;

protected:
    ~IMFSample() = default;
};

PYX_INTERFACE_ID(IMFSample, IMFAttributes, "c40a00f2-b93a-4d80-ae8c-5a1c634f58e4");

HRESULT MFCreateSample(IMFSample** ppIMFSample);
