#pragma once
// IMFSinkWriter: writes compressed samples into a container file without re-encoding.

#include <mfobjects.h>

struct IMFByteStream;

struct IMFSinkWriter : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddStream(IMFMediaType* pTargetMediaType, DWORD* pdwStreamIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginWriting() = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteSample(DWORD dwStreamIndex, IMFSample* pSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE Finalize() = 0;

protected:
    ~IMFSinkWriter() = default;
};

PYX_INTERFACE_ID(IMFSinkWriter, IUnknown, "3137f1cd-fe5e-4805-a5d8-fb477448cb3d");

// The container follows from the URL's extension (".mp4"); byte streams are not supported (pass null).
HRESULT MFCreateSinkWriterFromURL(LPCWSTR pwszOutputURL, IMFByteStream* pByteStream,
                                  IMFAttributes* pAttributes, IMFSinkWriter** ppSinkWriter);
