#pragma once
// What the session tests share: a recorder of an event generator's events, a grabber sink callback that
// records what it is told, media types, and a two-branch capture-like session: a MediaSource with a video and
// an audio stream, the video through a synchronous and the audio through an asynchronous test transform, each
// into its own sample grabber sink.

#include "Media/MediaSource.h"
#include "TestTransforms.h"
#include <mfapi.h>
#include <mfidl.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// Polls `condition` until it holds or `timeout` passes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5000ms);

struct RecordedEvent {
    MediaEventType type;
    HRESULT status;
};

// Takes every event of one generator, in order, until the generator is shut down.
class EventRecorder final : public ComObject<IMFAsyncCallback> {
public:
    static ComPtr<EventRecorder> Listen(IMFMediaEventGenerator* generator);

    std::vector<RecordedEvent> Events() const;
    std::vector<MediaEventType> Types() const;
    bool WaitFor(MediaEventType type, std::chrono::milliseconds timeout = 5000ms) const;
    std::size_t Count(MediaEventType type) const;

    HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* result) override;

private:
    mutable std::mutex m_mutex;
    ComPtr<IMFMediaEventGenerator> m_generator;
    std::vector<RecordedEvent> m_events;
};

struct GrabbedSample {
    GUID majorType;
    LONGLONG time;
    LONGLONG duration;
    std::vector<BYTE> bytes;
    bool hasAttributes;
};

// Records every notification as a word ("start", "sample", "stop", "shutdown") and keeps the samples.
class RecordingGrabberCallback final : public ComObject<IMFSampleGrabberSinkCallback2> {
public:
    std::vector<std::string> Calls() const;
    std::vector<GrabbedSample> Samples() const;
    std::size_t SampleCount() const;
    // The next OnProcessSampleEx answers this.
    void FailNext(HRESULT hr);
    // The next OnProcessSampleEx takes this long, after it has recorded its sample.
    void HoldNext(std::chrono::milliseconds time);

    HRESULT STDMETHODCALLTYPE OnClockStart(MFTIME, LONGLONG) override { return Record("start"); }
    HRESULT STDMETHODCALLTYPE OnClockStop(MFTIME) override { return Record("stop"); }
    HRESULT STDMETHODCALLTYPE OnClockPause(MFTIME) override { return Record("pause"); }
    HRESULT STDMETHODCALLTYPE OnClockRestart(MFTIME) override { return Record("restart"); }
    HRESULT STDMETHODCALLTYPE OnClockSetRate(MFTIME, float) override { return Record("rate"); }
    HRESULT STDMETHODCALLTYPE OnSetPresentationClock(IMFPresentationClock*) override {
        return Record("clock");
    }
    HRESULT STDMETHODCALLTYPE OnProcessSample(REFGUID, DWORD, LONGLONG, LONGLONG, const BYTE*,
                                              DWORD) override {
        return Record("plain sample");
    }
    HRESULT STDMETHODCALLTYPE OnShutdown() override { return Record("shutdown"); }
    HRESULT STDMETHODCALLTYPE OnProcessSampleEx(REFGUID majorType, DWORD flags, LONGLONG time,
                                                LONGLONG duration, const BYTE* buffer, DWORD size,
                                                IMFAttributes* attributes) override;

private:
    HRESULT Record(const char* call);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::vector<GrabbedSample> m_samples;
    HRESULT m_nextResult = S_OK;
    std::chrono::milliseconds m_nextHold{0};
};

ComPtr<IMFMediaType> VideoType(UINT32 frameRate = 60);
ComPtr<IMFMediaType> AudioType(UINT32 samplesPerSecond = 48000);

// The stream sink of a sample grabber sink over `callback`.
ComPtr<IMFStreamSink> GrabberStreamSink(IMFMediaType* type, IMFSampleGrabberSinkCallback* callback,
                                        bool ignoreClock = true);

// Source stream node → transform nodes → output node, added to `topology`.
HRESULT AddBranch(IMFTopology* topology, IMFMediaSource* source, DWORD stream,
                  const std::vector<IMFTransform*>& transforms, IMFStreamSink* sink);

struct TwoBranchSession {
    explicit TwoBranchSession(TestTransformOptions videoOptions = {}, TestTransformOptions audioOptions = {});
    ~TwoBranchSession();

    // Builds the topology and sets it; false when any step failed.
    bool Build();
    // Source first, then the session, as the capture does it.
    void Shutdown();

    ComPtr<MediaSource> source;
    ComPtr<MediaStream> video;
    ComPtr<MediaStream> audio;
    ComPtr<SyncTestTransform> videoTransform;
    ComPtr<AsyncTestTransform> audioTransform;
    ComPtr<RecordingGrabberCallback> videoSink;
    ComPtr<RecordingGrabberCallback> audioSink;
    ComPtr<IMFMediaSession> session;

private:
    bool m_shutDown = false;
};

// Holds one platform start-up for a test.
class PlatformStarted {
public:
    PlatformStarted() : m_result(MFStartup(MF_VERSION)) {}
    ~PlatformStarted() {
        if (SUCCEEDED(m_result))
            MFShutdown();
    }
    PlatformStarted(const PlatformStarted&) = delete;
    PlatformStarted& operator=(const PlatformStarted&) = delete;

private:
    HRESULT m_result;
};
