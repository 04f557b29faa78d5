#pragma once
// Event generators and the event queue that implements them.

#include "Async.h"
#include "MediaEvent.h"

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
