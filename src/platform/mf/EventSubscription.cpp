#include "EventSubscription.h"

#include <mferror.h>
#include <wrl/implements.h>

HRESULT EventSubscription::Start(IMFMediaEventGenerator* generator, std::shared_ptr<SerialExecutor> executor,
                                 Handler handler, ComPtr<EventSubscription>& subscription) {
    return NoThrow([&] {
        ComPtr<EventSubscription> created;
        created.Attach(new EventSubscription(generator, std::move(executor), std::move(handler)));
        const HRESULT hr = generator->BeginGetEvent(created.Get(), nullptr);
        if (SUCCEEDED(hr))
            subscription = std::move(created);
        return hr;
    });
}

void EventSubscription::Detach() {
    std::lock_guard lock(m_mutex);
    m_generator = nullptr;
    m_detached = true;
}

HRESULT EventSubscription::Invoke(IMFAsyncResult* pAsyncResult) {
    std::lock_guard lock(m_mutex);
    if (m_generator == nullptr)
        return S_OK;
    ComPtr<IMFMediaEvent> event;
    HRESULT hr = m_generator->EndGetEvent(pAsyncResult, &event);
    // Handed on before the next event is asked for, so events reach the executor in their order.
    if (SUCCEEDED(hr)) {
        Deliver(event.Get());
        hr = m_generator->BeginGetEvent(this, nullptr);
    }
    if (FAILED(hr)) {
        m_generator = nullptr;
        if (hr != MF_E_SHUTDOWN)
            DeliverError(hr);
    }
    return hr;
}

void EventSubscription::Deliver(IMFMediaEvent* event) {
    ComPtr<EventSubscription> self(this);
    ComPtr<IMFMediaEvent> held(event);
    // A closed executor means the session is going away; the event goes with it.
    NoThrow([&] {
        m_executor->Post([self, held] {
            {
                std::lock_guard lock(self->m_mutex);
                if (self->m_detached)
                    return;
            }
            self->m_handler(held.Get());
        });
        return S_OK;
    });
}

void EventSubscription::DeliverError(HRESULT hr) {
    ComPtr<IMFMediaEvent> error;
    if (SUCCEEDED(MFCreateMediaEvent(MEError, GUID_NULL, hr, nullptr, &error)))
        Deliver(error.Get());
}
