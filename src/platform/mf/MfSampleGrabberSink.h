#pragma once
// The sample grabber sink: a media sink with one stream sink, which are the same object, and the clock state
// sink the session starts and stops it through. Each sample goes to the callback as one contiguous block,
// after which the stream sink asks for the next one.

#include <mfidl.h>
#include <wrl/implements.h>

#include <condition_variable>
#include <mutex>

class MfSampleGrabberSink final : public ComObject<IMFMediaSink, IMFStreamSink, IMFClockStateSink> {
public:
    static HRESULT Create(IMFMediaType* mediaType, IMFSampleGrabberSinkCallback* callback, bool ignoreClock,
                          ComPtr<MfSampleGrabberSink>& sink);

    // IMFMediaSink
    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* pdwCharacteristics) override;
    HRESULT STDMETHODCALLTYPE GetStreamSinkCount(DWORD* pcStreamSinkCount) override;
    HRESULT STDMETHODCALLTYPE GetStreamSinkByIndex(DWORD dwIndex, IMFStreamSink** ppStreamSink) override;
    HRESULT STDMETHODCALLTYPE GetStreamSinkById(DWORD dwStreamSinkIdentifier,
                                                IMFStreamSink** ppStreamSink) override;
    HRESULT STDMETHODCALLTYPE Shutdown() override;

    // IMFMediaEventGenerator
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) override;
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) override;
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) override;
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                                         const PROPVARIANT* pvValue) override;

    // IMFStreamSink
    HRESULT STDMETHODCALLTYPE GetMediaSink(IMFMediaSink** ppMediaSink) override;
    HRESULT STDMETHODCALLTYPE GetIdentifier(DWORD* pdwIdentifier) override;
    HRESULT STDMETHODCALLTYPE GetMediaTypeHandler(IMFMediaTypeHandler** ppHandler) override;
    HRESULT STDMETHODCALLTYPE ProcessSample(IMFSample* pSample) override;
    HRESULT STDMETHODCALLTYPE Flush() override;

    // IMFClockStateSink
    HRESULT STDMETHODCALLTYPE OnClockStart(MFTIME hnsSystemTime, LONGLONG llClockStartOffset) override;
    HRESULT STDMETHODCALLTYPE OnClockStop(MFTIME hnsSystemTime) override;
    HRESULT STDMETHODCALLTYPE OnClockPause(MFTIME hnsSystemTime) override;
    HRESULT STDMETHODCALLTYPE OnClockRestart(MFTIME hnsSystemTime) override;
    HRESULT STDMETHODCALLTYPE OnClockSetRate(MFTIME hnsSystemTime, float flRate) override;

private:
    MfSampleGrabberSink(IMFSampleGrabberSinkCallback* callback, bool ignoreClock)
        : m_ignoreClock(ignoreClock), m_callback(callback) {}

    enum class State { Stopped, Started, Paused, Shutdown };

    // The callback while the sink runs; null after Shutdown.
    ComPtr<IMFSampleGrabberSinkCallback> Callback();
    // Changes the state, tells the callback through `notify` and queues `event` (and a sample request when
    // the sink starts).
    template <class Notify>
    HRESULT ChangeState(State state, MediaEventType event, Notify&& notify);
    // Waits until the sample's presentation time has come; false when the sink stopped meanwhile.
    bool WaitForPresentationTime(LONGLONG sampleTime);
    HRESULT Deliver(IMFSample* sample, IMFSampleGrabberSinkCallback* callback);

    const bool m_ignoreClock;
    GUID m_majorType = GUID_NULL;
    ComPtr<IMFMediaTypeHandler> m_handler;
    ComPtr<IMFMediaEventQueue> m_eventQueue;
    // Held while the callback hears of a sample or a state change, so it hears of them one at a time and in
    // order. Recursive: the callback may call back into the sink.
    std::recursive_mutex m_deliveryMutex;
    std::mutex m_mutex;
    std::condition_variable m_stateChanged;
    State m_state = State::Stopped;
    ComPtr<IMFSampleGrabberSinkCallback> m_callback;
    ComPtr<IMFSampleGrabberSinkCallback2> m_callback2;
    MFTIME m_clockStartTime = 0;
    LONGLONG m_clockStartOffset = 0;
};
