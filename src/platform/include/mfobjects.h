#pragma once
// IMFAttributes: the GUID-keyed value store under media types, samples, events and configuration objects.

#include <propidl.h>
#include <unknwn.h>

enum MF_ATTRIBUTE_TYPE : VARTYPE {
    MF_ATTRIBUTE_UINT32 = VT_UI4,
    MF_ATTRIBUTE_UINT64 = VT_UI8,
    MF_ATTRIBUTE_DOUBLE = VT_R8,
    MF_ATTRIBUTE_GUID = VT_CLSID,
    MF_ATTRIBUTE_STRING = VT_LPWSTR,
    MF_ATTRIBUTE_BLOB = VT_VECTOR | VT_UI1,
    MF_ATTRIBUTE_IUNKNOWN = VT_UNKNOWN,
};

enum MF_ATTRIBUTES_MATCH_TYPE : int {
    MF_ATTRIBUTES_MATCH_OUR_ITEMS = 0,
    MF_ATTRIBUTES_MATCH_THEIR_ITEMS = 1,
    MF_ATTRIBUTES_MATCH_ALL_ITEMS = 2,
    MF_ATTRIBUTES_MATCH_INTERSECTION = 3,
    MF_ATTRIBUTES_MATCH_SMALLER = 4,
};

struct IMFAttributes : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetItem(REFGUID guidKey, PROPVARIANT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemType(REFGUID guidKey, MF_ATTRIBUTE_TYPE* pType) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompareItem(REFGUID guidKey, REFPROPVARIANT Value, BOOL* pbResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE Compare(IMFAttributes* pTheirs, MF_ATTRIBUTES_MATCH_TYPE MatchType,
                                              BOOL* pbResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID guidKey, UINT32* punValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID guidKey, UINT64* punValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDouble(REFGUID guidKey, double* pfValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGUID(REFGUID guidKey, GUID* pguidValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID guidKey, UINT32* pcchLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetString(REFGUID guidKey, LPWSTR pwszValue, UINT32 cchBufSize,
                                                UINT32* pcchLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID guidKey, LPWSTR* ppwszValue,
                                                         UINT32* pcchLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID guidKey, UINT32* pcbBlobSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBlob(REFGUID guidKey, UINT8* pBuf, UINT32 cbBufSize,
                                              UINT32* pcbBlobSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllocatedBlob(REFGUID guidKey, UINT8** ppBuf, UINT32* pcbSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID guidKey, REFIID riid, LPVOID* ppv) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetItem(REFGUID guidKey, REFPROPVARIANT Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID guidKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteAllItems() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID guidKey, UINT32 unValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID guidKey, UINT64 unValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDouble(REFGUID guidKey, double fValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guidKey, REFGUID guidValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetString(REFGUID guidKey, LPCWSTR wszValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBlob(REFGUID guidKey, const UINT8* pBuf, UINT32 cbBufSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID guidKey, IUnknown* pUnknown) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockStore() = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockStore() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCount(UINT32* pcItems) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemByIndex(UINT32 unIndex, GUID* pguidKey, PROPVARIANT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* pDest) = 0;

protected:
    ~IMFAttributes() = default;
};

PYX_INTERFACE_ID(IMFAttributes, IUnknown, "2cd2d921-c447-44a7-a13c-4adabfc247e3");

HRESULT MFCreateAttributes(IMFAttributes** ppMFAttributes, UINT32 cInitialSize);

// Two 32-bit values packed into one UINT64 attribute (high word first), as frame sizes and ratios are stored.
inline UINT64 Pack2UINT32AsUINT64(UINT32 high, UINT32 low) { return (UINT64(high) << 32) | low; }

inline void Unpack2UINT32AsUINT64(UINT64 packed, UINT32* high, UINT32* low) {
    *high = static_cast<UINT32>(packed >> 32);
    *low = static_cast<UINT32>(packed);
}

inline HRESULT MFGetAttribute2UINT32asUINT64(IMFAttributes* attributes, REFGUID key, UINT32* high,
                                             UINT32* low) {
    UINT64 packed = 0;
    const HRESULT hr = attributes->GetUINT64(key, &packed);
    if (SUCCEEDED(hr))
        Unpack2UINT32AsUINT64(packed, high, low);
    return hr;
}

inline HRESULT MFSetAttribute2UINT32asUINT64(IMFAttributes* attributes, REFGUID key, UINT32 high,
                                             UINT32 low) {
    return attributes->SetUINT64(key, Pack2UINT32AsUINT64(high, low));
}

inline HRESULT MFGetAttributeSize(IMFAttributes* attributes, REFGUID key, UINT32* width, UINT32* height) {
    return MFGetAttribute2UINT32asUINT64(attributes, key, width, height);
}

inline HRESULT MFSetAttributeSize(IMFAttributes* attributes, REFGUID key, UINT32 width, UINT32 height) {
    return MFSetAttribute2UINT32asUINT64(attributes, key, width, height);
}

inline HRESULT MFGetAttributeRatio(IMFAttributes* attributes, REFGUID key, UINT32* numerator,
                                   UINT32* denominator) {
    return MFGetAttribute2UINT32asUINT64(attributes, key, numerator, denominator);
}

inline HRESULT MFSetAttributeRatio(IMFAttributes* attributes, REFGUID key, UINT32 numerator,
                                   UINT32 denominator) {
    return MFSetAttribute2UINT32asUINT64(attributes, key, numerator, denominator);
}

inline UINT32 MFGetAttributeUINT32(IMFAttributes* attributes, REFGUID key, UINT32 defaultValue) {
    UINT32 value = 0;
    return SUCCEEDED(attributes->GetUINT32(key, &value)) ? value : defaultValue;
}

// IMFMediaType: an attribute store that describes a stream format.

struct IMFMediaType : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE GetMajorType(GUID* pguidMajorType) = 0;

protected:
    ~IMFMediaType() = default;
};

PYX_INTERFACE_ID(IMFMediaType, IMFAttributes, "44ae0fa8-ea31-4109-8d2e-4cae4997c555");

HRESULT MFCreateMediaType(IMFMediaType** ppMFType);

// IMFMediaBuffer: a block of memory with a maximum and a current (valid) length.

struct IMFMediaBuffer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Lock(BYTE** ppbBuffer, DWORD* pcbMaxLength,
                                           DWORD* pcbCurrentLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unlock() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentLength(DWORD* pcbCurrentLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCurrentLength(DWORD cbCurrentLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* pcbMaxLength) = 0;

protected:
    ~IMFMediaBuffer() = default;
};

PYX_INTERFACE_ID(IMFMediaBuffer, IUnknown, "045fa593-8799-42b8-bc8d-8968c6453507");

// Alignment arguments of MFCreateAlignedMemoryBuffer: the alignment in bytes minus one.
constexpr DWORD MF_1_BYTE_ALIGNMENT = 0x00000000;
constexpr DWORD MF_2_BYTE_ALIGNMENT = 0x00000001;
constexpr DWORD MF_4_BYTE_ALIGNMENT = 0x00000003;
constexpr DWORD MF_8_BYTE_ALIGNMENT = 0x00000007;
constexpr DWORD MF_16_BYTE_ALIGNMENT = 0x0000000f;
constexpr DWORD MF_32_BYTE_ALIGNMENT = 0x0000001f;
constexpr DWORD MF_64_BYTE_ALIGNMENT = 0x0000003f;
constexpr DWORD MF_128_BYTE_ALIGNMENT = 0x0000007f;
constexpr DWORD MF_256_BYTE_ALIGNMENT = 0x000000ff;
constexpr DWORD MF_512_BYTE_ALIGNMENT = 0x000001ff;

HRESULT MFCreateMemoryBuffer(DWORD cbMaxLength, IMFMediaBuffer** ppBuffer);
HRESULT MFCreateAlignedMemoryBuffer(DWORD cbMaxLength, DWORD fAlignmentFlags, IMFMediaBuffer** ppBuffer);

// IMFSample: a time-stamped list of media buffers with attributes.

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

// IMFMediaEvent: an event of a media object: type, extended type, status and a value, plus attributes.

using MediaEventType = DWORD;

enum : MediaEventType {
    MEUnknown = 0,
    MEError = 1,
    MEExtendedType = 2,
    MENonFatalError = 3,
    MESessionUnknown = 100,
    MESessionTopologySet = 101,
    MESessionTopologiesCleared = 102,
    MESessionStarted = 103,
    MESessionPaused = 104,
    MESessionStopped = 105,
    MESessionClosed = 106,
    MESessionEnded = 107,
    MESessionTopologyStatus = 111,
    MESourceUnknown = 200,
    MESourceStarted = 201,
    MEStreamStarted = 202,
    MESourceSeeked = 203,
    MEStreamSeeked = 204,
    MENewStream = 205,
    MEUpdatedStream = 206,
    MESourceStopped = 207,
    MEStreamStopped = 208,
    MESourcePaused = 209,
    MEStreamPaused = 210,
    MEEndOfPresentation = 211,
    MEEndOfStream = 212,
    MEMediaSample = 213,
    MEStreamTick = 214,
    MEStreamFormatChanged = 216,
    MESinkUnknown = 300,
    MEStreamSinkStarted = 301,
    MEStreamSinkStopped = 302,
    MEStreamSinkPaused = 303,
    MEStreamSinkRateChanged = 304,
    MEStreamSinkRequestSample = 305,
    MEStreamSinkMarker = 306,
    MEStreamSinkPrerolled = 307,
    MEStreamSinkFormatChanged = 309,
    METransformUnknown = 600,
    METransformNeedInput = 601,
    METransformHaveOutput = 602,
    METransformDrainComplete = 603,
    METransformMarker = 604,
};

struct IMFMediaEvent : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE GetType(MediaEventType* pmet) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetExtendedType(GUID* pguidExtendedType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStatus(HRESULT* phrStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(PROPVARIANT* pvValue) = 0;

protected:
    ~IMFMediaEvent() = default;
};

PYX_INTERFACE_ID(IMFMediaEvent, IMFAttributes, "df598932-f10c-4e39-bba2-c308f101daa3");

// pvValue may be null (an empty value).
HRESULT MFCreateMediaEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                           const PROPVARIANT* pvValue, IMFMediaEvent** ppEvent);

// Asynchronous callbacks and their results, and the platform work queues that invoke them.

struct IMFAsyncResult : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetState(IUnknown** ppunkState) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStatus() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStatus(HRESULT hrStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetObject(IUnknown** ppObject) = 0;
    virtual IUnknown* STDMETHODCALLTYPE GetStateNoAddRef() = 0;

protected:
    ~IMFAsyncResult() = default;
};

PYX_INTERFACE_ID(IMFAsyncResult, IUnknown, "ac6b7889-0740-4d51-8619-905994a55cc6");

struct IMFAsyncCallback : IUnknown {
    // E_NOTIMPL means the default: no flags, the standard work queue.
    virtual HRESULT STDMETHODCALLTYPE GetParameters(DWORD* pdwFlags, DWORD* pdwQueue) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* pAsyncResult) = 0;

protected:
    ~IMFAsyncCallback() = default;
};

PYX_INTERFACE_ID(IMFAsyncCallback, IUnknown, "a27003cf-2354-4f2a-8d6a-ab7cff15437e");

constexpr DWORD MFASYNC_FAST_IO_PROCESSING_CALLBACK = 0x00000001;
constexpr DWORD MFASYNC_SIGNAL_CALLBACK = 0x00000002;
constexpr DWORD MFASYNC_BLOCKING_CALLBACK = 0x00000004;
constexpr DWORD MFASYNC_REPLY_CALLBACK = 0x00000008;

constexpr DWORD MFASYNC_CALLBACK_QUEUE_UNDEFINED = 0x00000000;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_STANDARD = 0x00000001;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_RT = 0x00000002;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_IO = 0x00000003;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_TIMER = 0x00000004;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_MULTITHREADED = 0x00000005;
constexpr DWORD MFASYNC_CALLBACK_QUEUE_LONG_FUNCTION = 0x00000007;

// A result for callback with state and an object; both may be null.
HRESULT MFCreateAsyncResult(IUnknown* punkObject, IMFAsyncCallback* pCallback, IUnknown* punkState,
                            IMFAsyncResult** ppAsyncResult);
// Queues the result's callback on the work queue its GetParameters names.
HRESULT MFInvokeCallback(IMFAsyncResult* pAsyncResult);
// Queues pCallback with a new result carrying pState; fails with MF_E_SHUTDOWN while the platform is not
// started.
HRESULT MFPutWorkItem(DWORD dwQueue, IMFAsyncCallback* pCallback, IUnknown* pState);
HRESULT MFPutWorkItemEx(DWORD dwQueue, IMFAsyncResult* pResult);

// Event generators and the event queue that implements them.

constexpr DWORD MF_EVENT_FLAG_NO_WAIT = 0x00000001;

struct IMFMediaEventGenerator : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType met, REFGUID guidExtendedType,
                                                 HRESULT hrStatus, const PROPVARIANT* pvValue) = 0;

protected:
    ~IMFMediaEventGenerator() = default;
};

PYX_INTERFACE_ID(IMFMediaEventGenerator, IUnknown, "2cd0bd52-bcd5-4b89-b62c-eadc0c031e7d");

struct IMFMediaEventQueue : IUnknown {
    // Blocks until an event is queued unless dwFlags has MF_EVENT_FLAG_NO_WAIT.
    virtual HRESULT STDMETHODCALLTYPE GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) = 0;
    // Invokes the callback on a work-queue thread once an event is available; one request at a time.
    virtual HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueueEvent(IMFMediaEvent* pEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueueEventParamVar(MediaEventType met, REFGUID guidExtendedType,
                                                         HRESULT hrStatus, const PROPVARIANT* pvValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueueEventParamUnk(MediaEventType met, REFGUID guidExtendedType,
                                                         HRESULT hrStatus, IUnknown* pUnk) = 0;
    // Drops the queued events and the pending request; every later call fails with MF_E_SHUTDOWN.
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;

protected:
    ~IMFMediaEventQueue() = default;
};

PYX_INTERFACE_ID(IMFMediaEventQueue, IUnknown, "36f846fc-2256-48b6-b58e-e2b638316581");

HRESULT MFCreateEventQueue(IMFMediaEventQueue** ppMediaEventQueue);

// IMFActivate: an attribute store that creates the object it describes on demand.

struct IMFActivate : IMFAttributes {
    // Creates the object on the first call and hands out the same one until ShutdownObject or DetachObject.
    virtual HRESULT STDMETHODCALLTYPE ActivateObject(REFIID riid, void** ppv) = 0;
    // Shuts the created object down (where it has a shutdown) and forgets it.
    virtual HRESULT STDMETHODCALLTYPE ShutdownObject() = 0;
    // Forgets the created object without shutting it down.
    virtual HRESULT STDMETHODCALLTYPE DetachObject() = 0;

protected:
    ~IMFActivate() = default;
};

PYX_INTERFACE_ID(IMFActivate, IMFAttributes, "7fee9e9a-4a89-47a6-899c-b6a53a70fb67");
