#include "MfMediaSession.h"

#include <mferror.h>
#include <pyx/CaptureClock.h>
#include <wrl/implements.h>

#include <algorithm>

MfMediaSession::MfMediaSession() : m_control(std::make_shared<SerialExecutor>("mf-session")) {}

MfMediaSession::~MfMediaSession() { Shutdown(); }

HRESULT MfMediaSession::GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) {
    return m_eventQueue->GetEvent(dwFlags, ppEvent);
}

HRESULT MfMediaSession::BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) {
    return m_eventQueue->BeginGetEvent(pCallback, punkState);
}

HRESULT MfMediaSession::EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) {
    return m_eventQueue->EndGetEvent(pResult, ppEvent);
}

HRESULT MfMediaSession::QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                                   const PROPVARIANT* pvValue) {
    return m_eventQueue->QueueEventParamVar(met, guidExtendedType, hrStatus, pvValue);
}

HRESULT MfMediaSession::Submit(std::function<void()> command) {
    std::lock_guard lock(m_mutex);
    if (m_shutdown)
        return MF_E_SHUTDOWN;
    const bool posted = m_control->Post([this, command = std::move(command)] {
        if (m_busy) {
            m_waiting.push_back(command);
            return;
        }
        m_busy = true;
        command();
    });
    return posted ? S_OK : MF_E_SHUTDOWN;
}

void MfMediaSession::Complete() {
    m_busy = false;
    if (m_waiting.empty())
        return;
    const std::function<void()> next = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_busy = true;
    next();
}

void MfMediaSession::Notify(MediaEventType type, HRESULT status, const PROPVARIANT* value) {
    // Only a shut-down queue refuses an event, and then nobody is listening any more.
    m_eventQueue->QueueEventParamVar(type, GUID_NULL, status, value);
}

HRESULT MfMediaSession::SetTopology(DWORD dwSetTopologyFlags, IMFTopology* pTopology) {
    if (pTopology == nullptr)
        return E_POINTER;
    if (dwSetTopologyFlags != 0)
        return E_INVALIDARG;
    return NoThrow([&] {
        auto plans = std::make_shared<std::vector<BranchPlan>>();
        HRESULT hr = PlanBranches(pTopology, *plans);
        if (FAILED(hr))
            return hr;
        {
            std::lock_guard lock(m_mutex);
            if (m_shutdown)
                return MF_E_SHUTDOWN;
            // One topology per session.
            if (m_hasTopology)
                return MF_E_INVALIDREQUEST;
            m_hasTopology = true;
        }
        ComPtr<IMFTopology> topology(pTopology);
        return Submit([this, plans, topology] { InstallTopology(*plans, topology); });
    });
}

void MfMediaSession::InstallTopology(std::vector<BranchPlan>& plans, const ComPtr<IMFTopology>& topology) {
    const HRESULT hr = NoThrow([&] {
        for (BranchPlan& plan : plans) {
            HRESULT result = AddSource(plan);
            if (FAILED(result))
                return result;
            m_branches.push_back(std::make_unique<SessionBranch>(std::move(plan), [this](HRESULT failure) {
                m_control->Post([this, failure] { OnFailure(failure); });
            }));
            result = m_branches.back()->Prepare();
            if (FAILED(result))
                return result;
        }
        return S_OK;
    });
    if (SUCCEEDED(hr)) {
        m_state = State::Ready;
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_UNKNOWN;
        value.punkVal = topology.Get();
        Notify(MESessionTopologySet, S_OK, &value);
    } else {
        TearDown();
        {
            std::lock_guard lock(m_mutex);
            m_hasTopology = false;
        }
        Notify(MESessionTopologySet, hr);
    }
    Complete();
}

HRESULT MfMediaSession::AddSource(const BranchPlan& plan) {
    for (const SourceEntry& entry : m_sources)
        if (IsSameObject(entry.source.Get(), plan.source.Get()))
            return S_OK;
    SourceEntry entry{plan.source, plan.presentation, nullptr};
    IMFMediaSource* source = plan.source.Get();
    const HRESULT hr = EventSubscription::Start(
        source, m_control, [this, source](IMFMediaEvent* event) { OnSourceEvent(source, event); },
        entry.events);
    if (SUCCEEDED(hr))
        m_sources.push_back(std::move(entry));
    return hr;
}

HRESULT MfMediaSession::Start(const GUID* pguidTimeFormat, const PROPVARIANT* pvarStartPosition) {
    // Positions are in 100-ns units only.
    if (pguidTimeFormat != nullptr && *pguidTimeFormat != GUID_NULL)
        return E_INVALIDARG;
    return NoThrow([&] {
        auto position = std::shared_ptr<PROPVARIANT>(new PROPVARIANT{}, [](PROPVARIANT* value) {
            PropVariantClear(value);
            delete value;
        });
        if (pvarStartPosition != nullptr) {
            const HRESULT hr = PropVariantCopy(position.get(), pvarStartPosition);
            if (FAILED(hr))
                return hr;
        }
        return Submit([this, position] { BeginStart(*position); });
    });
}

void MfMediaSession::BeginStart(const PROPVARIANT& startPosition) {
    if (m_state == State::Empty || m_state == State::Closed) {
        Notify(MESessionStarted, MF_E_INVALIDREQUEST);
        return Complete();
    }
    if (m_state == State::Started) {
        Notify(MESessionStarted, S_OK);
        return Complete();
    }
    m_startOffset = startPosition.vt == VT_I8 ? startPosition.hVal : 0;
    m_sourcesPending = 0;
    for (const SourceEntry& entry : m_sources) {
        const HRESULT hr = entry.source->Start(entry.presentation.Get(), &GUID_NULL, &startPosition);
        if (FAILED(hr)) {
            Notify(MESessionStarted, hr);
            return Complete();
        }
        ++m_sourcesPending;
    }
    m_waitingFor = Waiting::SourcesStarted;
}

void MfMediaSession::FinishStart() {
    m_waitingFor = Waiting::Nothing;
    const MFTIME now = pyx::CaptureTime().count();
    for (const auto& branch : m_branches) {
        const HRESULT hr = branch->Start(now, m_startOffset);
        if (FAILED(hr)) {
            Notify(MESessionStarted, hr);
            return Complete();
        }
    }
    m_state = State::Started;
    Notify(MESessionStarted, S_OK);
    for (const auto& branch : m_branches)
        branch->Resume();
    Complete();
}

HRESULT MfMediaSession::Stop() {
    return Submit([this] { BeginStop(MESessionStopped); });
}

HRESULT MfMediaSession::Close() {
    return Submit([this] { BeginStop(MESessionClosed); });
}

void MfMediaSession::BeginStop(MediaEventType completion) {
    m_stopCompletion = completion;
    m_stopResult = S_OK;
    m_sourcesPending = 0;
    if (m_state == State::Started) {
        for (const auto& branch : m_branches) {
            const HRESULT hr = branch->Stop();
            if (SUCCEEDED(m_stopResult))
                m_stopResult = hr;
        }
        for (const SourceEntry& entry : m_sources) {
            const HRESULT hr = entry.source->Stop();
            if (FAILED(hr)) {
                if (SUCCEEDED(m_stopResult))
                    m_stopResult = hr;
                continue;
            }
            ++m_sourcesPending;
        }
    }
    if (m_sourcesPending == 0)
        return FinishStop();
    m_waitingFor = Waiting::SourcesStopped;
}

void MfMediaSession::FinishStop() {
    m_waitingFor = Waiting::Nothing;
    if (m_stopCompletion == MESessionClosed)
        m_state = State::Closed;
    else if (m_state == State::Started)
        m_state = State::Ready;
    Notify(m_stopCompletion, m_stopResult);
    Complete();
}

void MfMediaSession::OnSourceEvent(IMFMediaSource* source, IMFMediaEvent* event) {
    MediaEventType type = MEUnknown;
    HRESULT status = S_OK;
    if (FAILED(event->GetType(&type)) || FAILED(event->GetStatus(&status)))
        return OnFailure(E_UNEXPECTED);
    switch (type) {
    case MENewStream:
    case MEUpdatedStream:
        return OnStream(source, event);
    case MESourceStarted:
        if (m_waitingFor != Waiting::SourcesStarted)
            return;
        if (FAILED(status)) {
            m_waitingFor = Waiting::Nothing;
            Notify(MESessionStarted, status);
            return Complete();
        }
        if (--m_sourcesPending == 0)
            FinishStart();
        return;
    case MESourceStopped:
        if (m_waitingFor != Waiting::SourcesStopped)
            return;
        if (FAILED(status) && SUCCEEDED(m_stopResult))
            m_stopResult = status;
        if (--m_sourcesPending == 0)
            FinishStop();
        return;
    case MEError:
        return OnFailure(status);
    default:
        return;
    }
}

void MfMediaSession::OnStream(IMFMediaSource* source, IMFMediaEvent* event) {
    PROPVARIANT value;
    PropVariantInit(&value);
    ComPtr<IMFMediaStream> stream;
    ComPtr<IMFStreamDescriptor> descriptor;
    DWORD streamId = 0;
    HRESULT hr = event->GetValue(&value);
    if (SUCCEEDED(hr))
        hr = value.vt == VT_UNKNOWN && value.punkVal != nullptr
                 ? value.punkVal->QueryInterface(IID_PPV_ARGS(&stream))
                 : E_INVALIDARG;
    PropVariantClear(&value);
    if (SUCCEEDED(hr))
        hr = stream->GetStreamDescriptor(&descriptor);
    if (SUCCEEDED(hr))
        hr = descriptor->GetStreamIdentifier(&streamId);
    if (FAILED(hr))
        return OnFailure(hr);
    // A selected stream that no branch uses is left alone.
    for (const auto& branch : m_branches)
        if (branch->Serves(source, streamId)) {
            hr = branch->AttachStream(stream.Get());
            if (FAILED(hr))
                OnFailure(hr);
            return;
        }
}

void MfMediaSession::OnFailure(HRESULT hr) {
    if (m_failed)
        return;
    m_failed = true;
    for (const auto& branch : m_branches)
        branch->Halt();
    Notify(MEError, hr);
}

void MfMediaSession::TearDown() {
    for (auto& branch : m_branches)
        branch->Shutdown();
    m_branches.clear();
    for (SourceEntry& entry : m_sources)
        if (entry.events)
            entry.events->Detach();
    m_sources.clear();
}

HRESULT MfMediaSession::Shutdown() {
    // A sink callback runs on a branch thread, which the shutdown has to wait for.
    if (SerialExecutor::OnAnyWorkerThread())
        return MF_E_INVALIDREQUEST;
    {
        std::lock_guard lock(m_mutex);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        m_shutdown = true;
    }
    m_control->Close();
    // The session thread is gone: its state is this thread's now.
    TearDown();
    m_waiting.clear();
    if (m_eventQueue)
        m_eventQueue->Shutdown();
    return S_OK;
}

HRESULT MFCreateMediaSession(IMFAttributes*, IMFMediaSession** ppMediaSession) {
    if (ppMediaSession == nullptr)
        return E_POINTER;
    *ppMediaSession = nullptr;
    return NoThrow([&] {
        ComPtr<MfMediaSession> session = MakeComObject<MfMediaSession>();
        if (!session)
            return E_OUTOFMEMORY;
        const HRESULT hr = session->Initialize();
        if (SUCCEEDED(hr))
            *ppMediaSession = session.Detach();
        return hr;
    });
}
