#include "SessionBranch.h"

#include <mferror.h>
#include <pyx/CaptureClock.h>
#include <wrl/implements.h>

namespace {

MediaEventType TypeOf(IMFMediaEvent* event) {
    MediaEventType type = MEUnknown;
    event->GetType(&type);
    return type;
}

HRESULT StatusOf(IMFMediaEvent* event) {
    HRESULT status = S_OK;
    return SUCCEEDED(event->GetStatus(&status)) ? status : E_UNEXPECTED;
}

} // namespace

SessionBranch::SessionBranch(BranchPlan plan, ErrorReport report)
    : m_plan(std::move(plan)), m_report(std::move(report)),
      m_executor(std::make_shared<SerialExecutor>("mf-branch")) {
    for (const auto& transform : m_plan.transforms)
        m_stages.push_back(std::make_unique<TransformStage>(transform));
}

SessionBranch::~SessionBranch() { Shutdown(); }

bool SessionBranch::RunOnBranch(const std::function<void()>& task) { return m_executor->Run(task); }

HRESULT SessionBranch::Prepare() {
    HRESULT hr = MF_E_SHUTDOWN;
    RunOnBranch([&] {
        hr = NoThrow([&] {
            HRESULT result = m_plan.sink->GetMediaSink(&m_mediaSink);
            // The session is the sink's clock: it starts and stops it directly.
            if (SUCCEEDED(result) && FAILED(m_mediaSink->QueryInterface(IID_PPV_ARGS(&m_sinkClock))))
                result = MF_E_TOPO_UNSUPPORTED;
            for (auto& stage : m_stages) {
                if (SUCCEEDED(result))
                    result = stage->Prepare();
                if (FAILED(result) || !stage->IsAsync())
                    continue;
                ComPtr<IMFMediaEventGenerator> generator;
                result = stage->Transform()->QueryInterface(IID_PPV_ARGS(&generator));
                ComPtr<EventSubscription> subscription;
                TransformStage* listened = stage.get();
                if (SUCCEEDED(result))
                    result = EventSubscription::Start(
                        generator.Get(), m_executor,
                        [this, listened](IMFMediaEvent* event) { OnTransformEvent(*listened, event); },
                        subscription);
                if (SUCCEEDED(result))
                    m_subscriptions.push_back(std::move(subscription));
            }
            ComPtr<EventSubscription> sinkEvents;
            if (SUCCEEDED(result))
                result = EventSubscription::Start(
                    m_plan.sink.Get(), m_executor, [this](IMFMediaEvent* event) { OnSinkEvent(event); },
                    sinkEvents);
            if (SUCCEEDED(result))
                m_subscriptions.push_back(std::move(sinkEvents));
            return result;
        });
    });
    return hr;
}

bool SessionBranch::Serves(IMFMediaSource* source, DWORD streamId) const {
    return streamId == m_plan.streamId && IsSameObject(m_plan.source.Get(), source);
}

HRESULT SessionBranch::AttachStream(IMFMediaStream* stream) {
    HRESULT hr = MF_E_SHUTDOWN;
    RunOnBranch([&] {
        hr = S_OK;
        if (m_stream.Get() == stream)
            return;
        if (m_streamEvents)
            m_streamEvents->Detach();
        m_streamEvents = nullptr;
        m_stream = stream;
        m_streamEnded = false;
        m_requestPending = false;
        hr = EventSubscription::Start(
            stream, m_executor, [this](IMFMediaEvent* event) { OnStreamEvent(event); }, m_streamEvents);
        Pump();
    });
    return hr;
}

HRESULT SessionBranch::Start(MFTIME systemTime, LONGLONG startOffset) {
    HRESULT hr = MF_E_SHUTDOWN;
    RunOnBranch([&] {
        hr = S_OK;
        for (auto& stage : m_stages)
            if (SUCCEEDED(hr))
                hr = stage->Start();
        if (SUCCEEDED(hr))
            hr = m_sinkClock->OnClockStart(systemTime, startOffset);
        m_running = SUCCEEDED(hr);
        m_requestPending = false;
    });
    return hr;
}

void SessionBranch::Resume() {
    m_executor->Post([this] { Pump(); });
}

HRESULT SessionBranch::Stop() {
    HRESULT hr = MF_E_SHUTDOWN;
    RunOnBranch([&] {
        m_running = false;
        hr = S_OK;
        for (auto& stage : m_stages) {
            const HRESULT flushed = stage->Stop();
            if (SUCCEEDED(hr))
                hr = flushed;
        }
        m_sinkInput.clear();
        m_sinkRequests = 0;
        const HRESULT stopped = m_sinkClock->OnClockStop(pyx::CaptureTime().count());
        if (SUCCEEDED(hr))
            hr = stopped;
    });
    return hr;
}

void SessionBranch::Halt() {
    // Set at once, so nothing the branch thread has not yet handed on reaches the sink after the failure is
    // told.
    m_halted.store(true, std::memory_order_release);
    m_executor->Post([this] { m_running = false; });
}

void SessionBranch::Shutdown() {
    // First the sink, so a sample it holds until its presentation time does not keep the thread waiting.
    if (m_mediaSink)
        m_mediaSink->Shutdown();
    m_executor->Close();
    // The thread is gone: what it owned is safe to touch from here.
    for (auto& subscription : m_subscriptions)
        subscription->Detach();
    if (m_streamEvents)
        m_streamEvents->Detach();
    m_subscriptions.clear();
    m_streamEvents = nullptr;
    m_sinkInput.clear();
    for (auto& stage : m_stages) {
        stage->Input().clear();
        stage->Shutdown();
    }
    m_mediaSink = nullptr;
    m_sinkClock = nullptr;
    m_stream = nullptr;
}

void SessionBranch::OnStreamEvent(IMFMediaEvent* event) {
    switch (TypeOf(event)) {
    case MEMediaSample:
        m_requestPending = false;
        Accept(event);
        // The event holds its sample while this handler runs: moved on after it, a picture goes back to its
        // allocator once the first transform has taken it, not only when the whole branch is done with it.
        m_executor->Post([this] { Pump(); });
        break;
    case MEStreamStopped:
        // Stopping the stream drops its pending requests.
        m_requestPending = false;
        break;
    case MEEndOfStream:
        m_streamEnded = true;
        break;
    case MEError:
        Fail(StatusOf(event));
        break;
    default:
        break;
    }
}

void SessionBranch::OnTransformEvent(TransformStage& stage, IMFMediaEvent* event) {
    switch (TypeOf(event)) {
    case METransformNeedInput:
        stage.OnNeedInput();
        break;
    case METransformHaveOutput:
        stage.OnHaveOutput();
        break;
    case MEError:
        Fail(StatusOf(event));
        return;
    default:
        return;
    }
    Pump();
}

void SessionBranch::OnSinkEvent(IMFMediaEvent* event) {
    switch (TypeOf(event)) {
    case MEStreamSinkRequestSample:
        ++m_sinkRequests;
        Pump();
        break;
    case MEError:
        Fail(StatusOf(event));
        break;
    default:
        break;
    }
}

void SessionBranch::Accept(IMFMediaEvent* event) {
    if (!m_running)
        return;
    PROPVARIANT value;
    PropVariantInit(&value);
    ComPtr<IMFSample> sample;
    HRESULT hr = event->GetValue(&value);
    if (SUCCEEDED(hr))
        hr = value.vt == VT_UNKNOWN && value.punkVal != nullptr
                 ? value.punkVal->QueryInterface(IID_PPV_ARGS(&sample))
                 : E_INVALIDARG;
    PropVariantClear(&value);
    if (FAILED(hr))
        return Fail(hr);
    NoThrow([&] {
        (m_stages.empty() ? m_sinkInput : m_stages.front()->Input()).push_back(std::move(sample));
        return S_OK;
    });
}

void SessionBranch::Pump() {
    if (!m_running)
        return;
    for (bool progressed = true; progressed;) {
        progressed = false;
        const HRESULT hr = NoThrow([&] { return MoveSamples(progressed); });
        if (FAILED(hr))
            return Fail(hr);
    }
    RequestMore();
}

HRESULT SessionBranch::MoveSamples(bool& progressed) {
    for (std::size_t i = 0; i < m_stages.size(); ++i) {
        auto& next = i + 1 < m_stages.size() ? m_stages[i + 1]->Input() : m_sinkInput;
        const HRESULT hr = m_stages[i]->Step(next, progressed);
        if (FAILED(hr))
            return hr;
    }
    while (m_sinkRequests > 0 && !m_sinkInput.empty() && !m_halted.load(std::memory_order_acquire)) {
        const ComPtr<IMFSample> sample = std::move(m_sinkInput.front());
        m_sinkInput.pop_front();
        --m_sinkRequests;
        progressed = true;
        const HRESULT hr = m_plan.sink->ProcessSample(sample.Get());
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

void SessionBranch::RequestMore() {
    if (!m_running || m_requestPending || m_streamEnded || !m_stream || !m_sinkInput.empty())
        return;
    for (const auto& stage : m_stages)
        if (!stage->Input().empty())
            return;
    if (!m_stages.empty() && !m_stages.front()->CanTakeInput())
        return;
    const HRESULT hr = m_stream->RequestSample(nullptr);
    // A source shut down by its owner ends the branch; that is not a failure of the session.
    if (hr == MF_E_SHUTDOWN) {
        m_streamEnded = true;
        return;
    }
    if (FAILED(hr))
        return Fail(hr);
    m_requestPending = true;
}

void SessionBranch::Fail(HRESULT hr) {
    m_running = false;
    m_report(hr);
}
