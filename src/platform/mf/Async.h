#pragma once
// Asynchronous callbacks and their results, and the platform work queues that invoke them.

#include "platform/win/Unknown.h"

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
