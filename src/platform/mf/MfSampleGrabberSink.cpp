#include "MfSampleGrabberSink.h"

#include "MfMediaTypeHandler.h"
#include <mferror.h>
#include <pyx/CaptureClock.h>
#include <wrl/implements.h>

namespace {

// Holds a buffer locked for as long as the callback reads it.
class BufferLock {
public:
    explicit BufferLock(IMFMediaBuffer* buffer) : m_buffer(buffer) {
        m_hr = m_buffer->Lock(&m_data, nullptr, &m_length);
    }
    ~BufferLock() {
        if (SUCCEEDED(m_hr))
            m_buffer->Unlock();
    }
    BufferLock(const BufferLock&) = delete;
    BufferLock& operator=(const BufferLock&) = delete;

    HRESULT Result() const { return m_hr; }
    const BYTE* Data() const { return m_data; }
    DWORD Length() const { return m_length; }

private:
    IMFMediaBuffer* m_buffer;
    HRESULT m_hr;
    BYTE* m_data = nullptr;
    DWORD m_length = 0;
};

} // namespace

HRESULT MfSampleGrabberSink::Create(IMFMediaType* mediaType, IMFSampleGrabberSinkCallback* callback,
                                    bool ignoreClock, ComPtr<MfSampleGrabberSink>& sink) {
    return NoThrow([&] {
        ComPtr<MfSampleGrabberSink> created;
        created.Attach(new MfSampleGrabberSink(callback, ignoreClock));
        HRESULT hr = mediaType->GetMajorType(&created->m_majorType);
        if (SUCCEEDED(hr))
            hr = MFCreateEventQueue(&created->m_eventQueue);
        if (FAILED(hr))
            return hr;
        created->m_handler = MakeComObject<MfMediaTypeHandler>(std::vector<ComPtr<IMFMediaType>>{mediaType},
                                                               ComPtr<IMFMediaType>(mediaType));
        // A callback that offers the extended interface gets the sample's attributes too.
        callback->QueryInterface(IID_PPV_ARGS(&created->m_callback2));
        sink = std::move(created);
        return S_OK;
    });
}

ComPtr<IMFSampleGrabberSinkCallback> MfSampleGrabberSink::Callback() {
    std::lock_guard lock(m_mutex);
    return m_callback;
}

HRESULT MfSampleGrabberSink::GetCharacteristics(DWORD* pdwCharacteristics) {
    if (pdwCharacteristics == nullptr)
        return E_POINTER;
    if (!Callback())
        return MF_E_SHUTDOWN;
    *pdwCharacteristics = MEDIASINK_FIXED_STREAMS | (m_ignoreClock ? DWORD(MEDIASINK_RATELESS) : 0u);
    return S_OK;
}

HRESULT MfSampleGrabberSink::GetStreamSinkCount(DWORD* pcStreamSinkCount) {
    if (pcStreamSinkCount == nullptr)
        return E_POINTER;
    if (!Callback())
        return MF_E_SHUTDOWN;
    *pcStreamSinkCount = 1;
    return S_OK;
}

HRESULT MfSampleGrabberSink::GetStreamSinkByIndex(DWORD dwIndex, IMFStreamSink** ppStreamSink) {
    if (ppStreamSink == nullptr)
        return E_POINTER;
    *ppStreamSink = nullptr;
    if (!Callback())
        return MF_E_SHUTDOWN;
    if (dwIndex != 0)
        return MF_E_INVALIDINDEX;
    *ppStreamSink = this;
    AddRef();
    return S_OK;
}

HRESULT MfSampleGrabberSink::GetStreamSinkById(DWORD dwStreamSinkIdentifier, IMFStreamSink** ppStreamSink) {
    if (ppStreamSink != nullptr && dwStreamSinkIdentifier != 0) {
        *ppStreamSink = nullptr;
        return Callback() ? MF_E_INVALIDSTREAMNUMBER : MF_E_SHUTDOWN;
    }
    return GetStreamSinkByIndex(0, ppStreamSink);
}

HRESULT MfSampleGrabberSink::Shutdown() {
    // After a delivery in progress, so the callback hears of nothing once told of the shutdown.
    std::lock_guard delivery(m_deliveryMutex);
    ComPtr<IMFSampleGrabberSinkCallback> callback;
    ComPtr<IMFSampleGrabberSinkCallback2> callback2;
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Shutdown)
            return MF_E_SHUTDOWN;
        m_state = State::Shutdown;
        callback.Swap(m_callback);
        callback2.Swap(m_callback2);
    }
    m_stateChanged.notify_all();
    m_eventQueue->Shutdown();
    return callback->OnShutdown();
}

HRESULT MfSampleGrabberSink::GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) {
    return m_eventQueue->GetEvent(dwFlags, ppEvent);
}

HRESULT MfSampleGrabberSink::BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) {
    return m_eventQueue->BeginGetEvent(pCallback, punkState);
}

HRESULT MfSampleGrabberSink::EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) {
    return m_eventQueue->EndGetEvent(pResult, ppEvent);
}

HRESULT MfSampleGrabberSink::QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                                        const PROPVARIANT* pvValue) {
    return m_eventQueue->QueueEventParamVar(met, guidExtendedType, hrStatus, pvValue);
}

HRESULT MfSampleGrabberSink::GetMediaSink(IMFMediaSink** ppMediaSink) {
    if (ppMediaSink == nullptr)
        return E_POINTER;
    *ppMediaSink = nullptr;
    if (!Callback())
        return MF_E_SHUTDOWN;
    *ppMediaSink = this;
    AddRef();
    return S_OK;
}

HRESULT MfSampleGrabberSink::GetIdentifier(DWORD* pdwIdentifier) {
    if (pdwIdentifier == nullptr)
        return E_POINTER;
    *pdwIdentifier = 0;
    return Callback() ? S_OK : MF_E_SHUTDOWN;
}

HRESULT MfSampleGrabberSink::GetMediaTypeHandler(IMFMediaTypeHandler** ppHandler) {
    if (ppHandler != nullptr && !Callback()) {
        *ppHandler = nullptr;
        return MF_E_SHUTDOWN;
    }
    return m_handler.CopyTo(ppHandler);
}

bool MfSampleGrabberSink::WaitForPresentationTime(LONGLONG sampleTime) {
    std::unique_lock lock(m_mutex);
    const MFTIME due = m_clockStartTime + (sampleTime - m_clockStartOffset);
    const pyx::HundredNanoseconds wait(due - pyx::CaptureTime().count());
    m_stateChanged.wait_for(lock, wait, [&] { return m_state != State::Started; });
    return m_state == State::Started;
}

HRESULT MfSampleGrabberSink::ProcessSample(IMFSample* pSample) {
    if (pSample == nullptr)
        return E_POINTER;
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Shutdown)
            return MF_E_SHUTDOWN;
        if (m_state != State::Started)
            return MF_E_INVALIDREQUEST;
    }
    LONGLONG time = 0;
    const bool timed = SUCCEEDED(pSample->GetSampleTime(&time));
    // A sample the clock stopped for is dropped, as the sink's queue would be flushed.
    if (!m_ignoreClock && timed && !WaitForPresentationTime(time))
        return S_OK;
    std::lock_guard delivery(m_deliveryMutex);
    ComPtr<IMFSampleGrabberSinkCallback> callback;
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Shutdown)
            return MF_E_SHUTDOWN;
        if (m_state != State::Started)
            return S_OK;
        callback = m_callback;
    }
    HRESULT hr = Deliver(pSample, callback.Get());
    if (SUCCEEDED(hr))
        hr = m_eventQueue->QueueEventParamVar(MEStreamSinkRequestSample, GUID_NULL, S_OK, nullptr);
    return hr;
}

HRESULT MfSampleGrabberSink::Deliver(IMFSample* sample, IMFSampleGrabberSinkCallback* callback) {
    DWORD flags = 0;
    LONGLONG time = 0;
    LONGLONG duration = 0;
    sample->GetSampleFlags(&flags);
    sample->GetSampleTime(&time);
    sample->GetSampleDuration(&duration);
    ComPtr<IMFMediaBuffer> buffer;
    HRESULT hr = sample->ConvertToContiguousBuffer(&buffer);
    if (FAILED(hr))
        return hr;
    const BufferLock locked(buffer.Get());
    if (FAILED(locked.Result()))
        return locked.Result();
    ComPtr<IMFSampleGrabberSinkCallback2> callback2;
    {
        std::lock_guard lock(m_mutex);
        callback2 = m_callback2;
    }
    if (callback2)
        return callback2->OnProcessSampleEx(m_majorType, flags, time, duration, locked.Data(),
                                            locked.Length(), sample);
    return callback->OnProcessSample(m_majorType, flags, time, duration, locked.Data(), locked.Length());
}

HRESULT MfSampleGrabberSink::Flush() { return Callback() ? S_OK : MF_E_SHUTDOWN; }

template <class Notify>
HRESULT MfSampleGrabberSink::ChangeState(State state, MediaEventType event, Notify&& notify) {
    std::lock_guard delivery(m_deliveryMutex);
    ComPtr<IMFSampleGrabberSinkCallback> callback;
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Shutdown)
            return MF_E_SHUTDOWN;
        m_state = state;
        callback = m_callback;
    }
    m_stateChanged.notify_all();
    HRESULT hr = notify(callback.Get());
    if (SUCCEEDED(hr))
        hr = m_eventQueue->QueueEventParamVar(event, GUID_NULL, S_OK, nullptr);
    if (SUCCEEDED(hr) && state == State::Started)
        hr = m_eventQueue->QueueEventParamVar(MEStreamSinkRequestSample, GUID_NULL, S_OK, nullptr);
    return hr;
}

HRESULT MfSampleGrabberSink::OnClockStart(MFTIME hnsSystemTime, LONGLONG llClockStartOffset) {
    {
        std::lock_guard lock(m_mutex);
        m_clockStartTime = hnsSystemTime;
        m_clockStartOffset = llClockStartOffset;
    }
    return ChangeState(State::Started, MEStreamSinkStarted, [&](IMFSampleGrabberSinkCallback* callback) {
        return callback->OnClockStart(hnsSystemTime, llClockStartOffset);
    });
}

HRESULT MfSampleGrabberSink::OnClockStop(MFTIME hnsSystemTime) {
    return ChangeState(State::Stopped, MEStreamSinkStopped, [&](IMFSampleGrabberSinkCallback* callback) {
        return callback->OnClockStop(hnsSystemTime);
    });
}

HRESULT MfSampleGrabberSink::OnClockPause(MFTIME hnsSystemTime) {
    return ChangeState(State::Paused, MEStreamSinkPaused, [&](IMFSampleGrabberSinkCallback* callback) {
        return callback->OnClockPause(hnsSystemTime);
    });
}

HRESULT MfSampleGrabberSink::OnClockRestart(MFTIME hnsSystemTime) {
    return ChangeState(State::Started, MEStreamSinkStarted, [&](IMFSampleGrabberSinkCallback* callback) {
        return callback->OnClockRestart(hnsSystemTime);
    });
}

HRESULT MfSampleGrabberSink::OnClockSetRate(MFTIME hnsSystemTime, float flRate) {
    std::lock_guard delivery(m_deliveryMutex);
    ComPtr<IMFSampleGrabberSinkCallback> callback = Callback();
    if (!callback)
        return MF_E_SHUTDOWN;
    HRESULT hr = callback->OnClockSetRate(hnsSystemTime, flRate);
    if (SUCCEEDED(hr))
        hr = m_eventQueue->QueueEventParamVar(MEStreamSinkRateChanged, GUID_NULL, S_OK, nullptr);
    return hr;
}
