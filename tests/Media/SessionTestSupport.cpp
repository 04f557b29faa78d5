#include "SessionTestSupport.h"

#include "Media/TopologyBranch.h"
#include "Util/ComException.h"
#include <mfidl.h>

#include <algorithm>
#include <thread>
#include <utility>

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

ComPtr<EventRecorder> EventRecorder::Listen(IMFMediaEventGenerator* generator) {
    ComPtr<EventRecorder> recorder = MakeComObject<EventRecorder>();
    recorder->m_generator = generator;
    if (FAILED(generator->BeginGetEvent(recorder.Get(), nullptr)))
        return nullptr;
    return recorder;
}

HRESULT EventRecorder::Invoke(IMFAsyncResult* result) {
    ComPtr<IMFMediaEventGenerator> generator;
    {
        std::lock_guard lock(m_mutex);
        generator = m_generator;
    }
    ComPtr<IMFMediaEvent> event;
    HRESULT hr = generator->EndGetEvent(result, &event);
    if (FAILED(hr)) {
        // The generator was shut down: let it go.
        std::lock_guard lock(m_mutex);
        m_generator = nullptr;
        return hr;
    }
    RecordedEvent recorded{};
    event->GetType(&recorded.type);
    event->GetStatus(&recorded.status);
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(recorded);
    }
    hr = generator->BeginGetEvent(this, nullptr);
    if (FAILED(hr)) {
        std::lock_guard lock(m_mutex);
        m_generator = nullptr;
    }
    return hr;
}

std::vector<RecordedEvent> EventRecorder::Events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<MediaEventType> EventRecorder::Types() const {
    std::vector<MediaEventType> types;
    for (const RecordedEvent& event : Events())
        types.push_back(event.type);
    return types;
}

std::size_t EventRecorder::Count(MediaEventType type) const {
    const auto types = Types();
    return static_cast<std::size_t>(std::count(types.begin(), types.end(), type));
}

bool EventRecorder::WaitFor(MediaEventType type, std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return Count(type) > 0; }, timeout);
}

HRESULT RecordingGrabberCallback::Record(const char* call) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(call);
    return S_OK;
}

HRESULT RecordingGrabberCallback::OnProcessSampleEx(REFGUID majorType, DWORD, LONGLONG time,
                                                    LONGLONG duration, const BYTE* buffer, DWORD size,
                                                    IMFAttributes* attributes) {
    std::chrono::milliseconds hold;
    HRESULT result;
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back("sample");
        m_samples.push_back(
            {majorType, time, duration, std::vector<BYTE>(buffer, buffer + size), attributes != nullptr});
        hold = std::exchange(m_nextHold, std::chrono::milliseconds{0});
        result = std::exchange(m_nextResult, S_OK);
    }
    std::this_thread::sleep_for(hold);
    return result;
}

std::vector<std::string> RecordingGrabberCallback::Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<GrabbedSample> RecordingGrabberCallback::Samples() const {
    std::lock_guard lock(m_mutex);
    return m_samples;
}

std::size_t RecordingGrabberCallback::SampleCount() const {
    std::lock_guard lock(m_mutex);
    return m_samples.size();
}

void RecordingGrabberCallback::FailNext(HRESULT hr) {
    std::lock_guard lock(m_mutex);
    m_nextResult = hr;
}

void RecordingGrabberCallback::HoldNext(std::chrono::milliseconds time) {
    std::lock_guard lock(m_mutex);
    m_nextHold = time;
}

ComPtr<IMFMediaType> VideoType(UINT32 frameRate) {
    ComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_ARGB32);
    MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, 64, 32);
    MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, frameRate, 1);
    return type;
}

ComPtr<IMFMediaType> AudioType(UINT32 samplesPerSecond) {
    ComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_Float);
    type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, samplesPerSecond);
    type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 2);
    return type;
}

ComPtr<IMFStreamSink> GrabberStreamSink(IMFMediaType* type, IMFSampleGrabberSinkCallback* callback,
                                        bool ignoreClock) {
    ComPtr<IMFActivate> activate;
    ComPtr<IMFMediaSink> mediaSink;
    ComPtr<IMFStreamSink> streamSink;
    if (FAILED(MFCreateSampleGrabberSinkActivate(type, callback, &activate)) ||
        FAILED(activate->SetUINT32(MF_SAMPLEGRABBERSINK_IGNORE_CLOCK, ignoreClock ? 1 : 0)) ||
        FAILED(activate->ActivateObject(IID_PPV_ARGS(&mediaSink))) ||
        FAILED(mediaSink->GetStreamSinkByIndex(0, &streamSink)))
        return nullptr;
    return streamSink;
}

HRESULT AddBranch(IMFTopology* topology, IMFMediaSource* source, DWORD stream,
                  const std::vector<IMFTransform*>& transforms, IMFStreamSink* sink) {
    try {
        AddTopologyBranch(topology, source, stream, transforms, sink);
        return S_OK;
    } catch (const ComException& e) {
        return e.Error();
    }
}

TwoBranchSession::TwoBranchSession(TestTransformOptions videoOptions, TestTransformOptions audioOptions)
    : videoTransform(MakeComObject<SyncTestTransform>(videoOptions)),
      audioTransform(MakeComObject<AsyncTestTransform>(audioOptions)),
      videoSink(MakeComObject<RecordingGrabberCallback>()),
      audioSink(MakeComObject<RecordingGrabberCallback>()) {}

TwoBranchSession::~TwoBranchSession() { Shutdown(); }

bool TwoBranchSession::Build() {
    ComPtr<IMFMediaType> videoType = VideoType();
    ComPtr<IMFMediaType> audioType = AudioType();
    IMFMediaType* types[] = {videoType.Get(), audioType.Get()};
    if (FAILED(MediaSource::CreateInstance(MediaSourceType::Server, 2, types, &source)) ||
        FAILED(source->GetStream(0, &video)) || FAILED(source->GetStream(1, &audio)))
        return false;
    const ComPtr<IMFStreamSink> videoStreamSink = GrabberStreamSink(videoType.Get(), videoSink.Get());
    const ComPtr<IMFStreamSink> audioStreamSink = GrabberStreamSink(audioType.Get(), audioSink.Get());
    ComPtr<IMFTopology> topology;
    return videoStreamSink && audioStreamSink && SUCCEEDED(MFCreateTopology(&topology)) &&
           SUCCEEDED(
               AddBranch(topology.Get(), source.Get(), 0, {videoTransform.Get()}, videoStreamSink.Get())) &&
           SUCCEEDED(
               AddBranch(topology.Get(), source.Get(), 1, {audioTransform.Get()}, audioStreamSink.Get())) &&
           SUCCEEDED(MFCreateMediaSession(nullptr, &session)) &&
           SUCCEEDED(session->SetTopology(0, topology.Get()));
}

void TwoBranchSession::Shutdown() {
    if (std::exchange(m_shutDown, true))
        return;
    if (source)
        source->Shutdown();
    if (session)
        session->Shutdown();
    audioTransform->Shutdown();
}
