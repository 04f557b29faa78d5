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

HRESULT EventSubscription::GetParameters(DWORD* flags, DWORD* queue) {
    if (flags == nullptr || queue == nullptr)
        return E_POINTER;
    *flags = 0;
    *queue = m_executor->WorkQueueId();
    return S_OK;
}

HRESULT EventSubscription::Invoke(IMFAsyncResult* pAsyncResult) {
    ComPtr<IMFMediaEvent> event;
    HRESULT hr = S_OK;
    {
        std::lock_guard lock(m_mutex);
        if (m_generator == nullptr)
            return S_OK;
        hr = m_generator->EndGetEvent(pAsyncResult, &event);
        // The next event is invoked on this same executor, so it is handled only after this one.
        if (SUCCEEDED(hr))
            hr = m_generator->BeginGetEvent(this, nullptr);
        if (FAILED(hr))
            m_generator = nullptr;
    }
    // Handled outside the lock: the handler may detach this subscription.
    if (event)
        Handle(event.Get());
    if (FAILED(hr) && hr != MF_E_SHUTDOWN) {
        ComPtr<IMFMediaEvent> error;
        if (SUCCEEDED(MFCreateMediaEvent(MEError, GUID_NULL, hr, nullptr, &error)))
            Handle(error.Get());
    }
    return hr;
}

void EventSubscription::Handle(IMFMediaEvent* event) {
    {
        std::lock_guard lock(m_mutex);
        if (m_detached)
            return;
    }
    m_handler(event);
}
