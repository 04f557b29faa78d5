#pragma once
// Listens to one event generator for a media session: each event is taken on the session's executor itself
// (the generator invokes the callback on the executor's work queue), the next one is asked for at once, and
// the event is handled there, so an event wakes one thread, not a work-queue thread and then the executor's.
// A failure to take or ask for events arrives as an MEError event; a generator that was shut down simply ends
// the subscription.
// The subscription holds no reference on the generator: the session keeps the generator alive until it
// detaches.

#include "SerialExecutor.h"
#include <mfobjects.h>
#include <wrl/implements.h>

#include <functional>
#include <memory>
#include <mutex>

class EventSubscription final : public ComObject<IMFAsyncCallback> {
public:
    using Handler = std::function<void(IMFMediaEvent* event)>;

    static HRESULT Start(IMFMediaEventGenerator* generator, std::shared_ptr<SerialExecutor> executor,
                         Handler handler, ComPtr<EventSubscription>& subscription);

    // No event is taken or handled after this returns.
    void Detach();

    HRESULT STDMETHODCALLTYPE GetParameters(DWORD* flags, DWORD* queue) override;
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* pAsyncResult) override;

private:
    EventSubscription(IMFMediaEventGenerator* generator, std::shared_ptr<SerialExecutor> executor,
                      Handler handler)
        : m_generator(generator), m_executor(std::move(executor)), m_handler(std::move(handler)) {}

    void Handle(IMFMediaEvent* event);

    std::mutex m_mutex;
    IMFMediaEventGenerator* m_generator; // null once detached or once the generator stopped answering
    bool m_detached = false;
    const std::shared_ptr<SerialExecutor> m_executor;
    const Handler m_handler;
};
