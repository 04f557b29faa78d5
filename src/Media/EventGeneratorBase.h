#pragma once
// The event calls a MediaSource and its streams share: each runs under the shared lock on the object's own
// event queue, and is refused once the object is shut down, except QueueEvent, which then does nothing.

#include "Util/HResultCheck.h"
#include <mferror.h>
#include <mfobjects.h>
#include <wrl/client.h>

#include <memory>
#include <mutex>

template <class Base>
class EventGeneratorBase : public Base {
public:
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) override {
        std::lock_guard lock(*m_lock);
        const HRESULT hr = CheckShutdown();
        if (FAILED(hr))
            return hr;
        return LogIfFailed(m_eventQueue->BeginGetEvent(pCallback, punkState),
                           "hr = m_eventQueue->BeginGetEvent( pCallback, punkState )");
    }

    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) override {
        std::lock_guard lock(*m_lock);
        const HRESULT hr = CheckShutdown();
        if (FAILED(hr))
            return hr;
        return LogIfFailed(m_eventQueue->EndGetEvent(pResult, ppEvent),
                           "hr = m_eventQueue->EndGetEvent( pResult, ppEvent )");
    }

    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                                         const PROPVARIANT* pvValue) override {
        std::lock_guard lock(*m_lock);
        if (IsShutdown())
            return S_OK;
        if (!m_eventQueue)
            return MF_E_NOT_INITIALIZED;
        return LogIfFailed(
            m_eventQueue->QueueEventParamVar(met, guidExtendedType, hrStatus, pvValue),
            "hr = m_eventQueue->QueueEventParamVar( met, guidExtendedType, hrStatus, pvValue )");
    }

protected:
    explicit EventGeneratorBase(std::shared_ptr<std::recursive_mutex> lock) : m_lock(std::move(lock)) {}

    virtual bool IsShutdown() const = 0;

    // Under the lock: MF_E_SHUTDOWN (logged) once shut down, MF_E_NOT_INITIALIZED while there is no queue.
    HRESULT CheckShutdown() const {
        if (IsShutdown())
            return LogIfFailed(MF_E_SHUTDOWN, "hr = CheckShutdown()");
        // Only a construction that failed before its event queue existed leaves none.
        return m_eventQueue ? S_OK : MF_E_NOT_INITIALIZED;
    }

    const std::shared_ptr<std::recursive_mutex> m_lock;
    ComPtr<IMFMediaEventQueue> m_eventQueue;
};
