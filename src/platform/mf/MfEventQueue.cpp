#include <mferror.h>
#include <mfobjects.h>
#include <wrl/implements.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

// Events are handed out first in, first out, to one taker at a time: a blocking GetEvent or one BeginGetEvent
// request. References are dropped outside the lock, so a released object may call back into the queue.
class MfEventQueue final : public ComObject<IMFMediaEventQueue> {
public:
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) override {
        if (ppEvent == nullptr)
            return E_POINTER;
        *ppEvent = nullptr;
        std::unique_lock lock(m_mutex);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        if (m_subscriber || m_waiting)
            return MF_E_MULTIPLE_SUBSCRIBERS;
        if (m_events.empty()) {
            if (dwFlags & MF_EVENT_FLAG_NO_WAIT)
                return MF_E_NO_EVENTS_AVAILABLE;
            m_waiting = true;
            m_changed.wait(lock, [&] { return m_shutdown || !m_events.empty(); });
            m_waiting = false;
            if (m_shutdown)
                return MF_E_SHUTDOWN;
        }
        *ppEvent = m_events.front().Detach();
        m_events.pop_front();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) override {
        if (pCallback == nullptr)
            return E_POINTER;
        ComPtr<IMFAsyncResult> request;
        HRESULT hr = MFCreateAsyncResult(nullptr, pCallback, punkState, &request);
        if (FAILED(hr))
            return hr;
        std::lock_guard lock(m_mutex);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        if (m_subscriber)
            return m_subscriberCallback.Get() == pCallback ? MF_E_MULTIPLE_BEGIN : MF_E_MULTIPLE_SUBSCRIBERS;
        if (m_waiting)
            return MF_E_MULTIPLE_SUBSCRIBERS;
        m_subscriber = request;
        m_subscriberCallback = pCallback;
        hr = m_events.empty() ? S_OK : NotifySubscriber();
        if (FAILED(hr))
            DropSubscriber(request);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) override {
        if (pResult == nullptr || ppEvent == nullptr) {
            if (ppEvent != nullptr)
                *ppEvent = nullptr;
            return E_POINTER;
        }
        *ppEvent = nullptr;
        ComPtr<IMFAsyncResult> finished;
        ComPtr<IMFAsyncCallback> finishedCallback;
        std::lock_guard lock(m_mutex);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        if (m_subscriber.Get() != pResult || !m_notified || m_events.empty())
            return E_INVALIDARG;
        *ppEvent = m_events.front().Detach();
        m_events.pop_front();
        finished.Swap(m_subscriber);
        finishedCallback.Swap(m_subscriberCallback);
        m_notified = false;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueueEvent(IMFMediaEvent* pEvent) override {
        if (pEvent == nullptr)
            return E_POINTER;
        return NoThrow([&] {
            ComPtr<IMFAsyncResult> dropped;
            std::lock_guard lock(m_mutex);
            if (m_shutdown)
                return MF_E_SHUTDOWN;
            m_events.emplace_back(pEvent);
            m_changed.notify_one();
            if (!m_subscriber || m_notified)
                return S_OK;
            const HRESULT hr = NotifySubscriber();
            // The request can never be answered now; the event stays queued for the next taker.
            if (FAILED(hr))
                dropped = DropSubscriber(m_subscriber);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE QueueEventParamVar(MediaEventType met, REFGUID guidExtendedType,
                                                 HRESULT hrStatus, const PROPVARIANT* pvValue) override {
        ComPtr<IMFMediaEvent> event;
        const HRESULT hr = MFCreateMediaEvent(met, guidExtendedType, hrStatus, pvValue, &event);
        return FAILED(hr) ? hr : QueueEvent(event.Get());
    }

    HRESULT STDMETHODCALLTYPE QueueEventParamUnk(MediaEventType met, REFGUID guidExtendedType,
                                                 HRESULT hrStatus, IUnknown* pUnk) override {
        PROPVARIANT value;
        PropVariantInit(&value);
        if (pUnk != nullptr) {
            value.vt = VT_UNKNOWN;
            value.punkVal = pUnk;
        }
        return QueueEventParamVar(met, guidExtendedType, hrStatus, &value);
    }

    HRESULT STDMETHODCALLTYPE Shutdown() override {
        std::deque<ComPtr<IMFMediaEvent>> events;
        ComPtr<IMFAsyncResult> subscriber;
        ComPtr<IMFAsyncCallback> subscriberCallback;
        {
            std::lock_guard lock(m_mutex);
            m_shutdown = true;
            events.swap(m_events);
            subscriber.Swap(m_subscriber);
            subscriberCallback.Swap(m_subscriberCallback);
            m_notified = false;
        }
        m_changed.notify_all();
        return S_OK;
    }

private:
    // Called under the lock with a subscriber and at least one event.
    HRESULT NotifySubscriber() {
        const HRESULT hr = MFInvokeCallback(m_subscriber.Get());
        m_notified = SUCCEEDED(hr);
        return hr;
    }

    // Forgets the pending request; the caller releases the returned reference after unlocking.
    ComPtr<IMFAsyncResult> DropSubscriber(const ComPtr<IMFAsyncResult>& request) {
        ComPtr<IMFAsyncResult> dropped = request;
        m_subscriber = nullptr;
        m_subscriberCallback = nullptr;
        m_notified = false;
        return dropped;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<ComPtr<IMFMediaEvent>> m_events;
    ComPtr<IMFAsyncResult> m_subscriber;
    ComPtr<IMFAsyncCallback> m_subscriberCallback;
    bool m_notified = false;
    bool m_waiting = false;
    bool m_shutdown = false;
};

} // namespace

HRESULT MFCreateEventQueue(IMFMediaEventQueue** ppMediaEventQueue) {
    return CreateObject<MfEventQueue>(ppMediaEventQueue);
}
