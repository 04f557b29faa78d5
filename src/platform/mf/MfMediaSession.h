#pragma once
// The media session. Commands run in order on the session's own thread; a command that waits for its sources
// (Start, Stop, Close) completes when their events arrive, and later commands wait for it. Each branch of the
// topology runs on its own thread (SessionBranch). The first failure anywhere becomes one MEError and halts
// every branch.

#include "EventSubscription.h"
#include "SessionBranch.h"
#include <mfidl.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class MfMediaSession final : public ComObject<IMFMediaSession> {
public:
    // Starts the session's thread; throws std::system_error when it cannot.
    MfMediaSession();
    ~MfMediaSession() override;

    HRESULT Initialize() { return MFCreateEventQueue(&m_eventQueue); }

    // IMFMediaEventGenerator
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) override;
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* pCallback, IUnknown* punkState) override;
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* pResult, IMFMediaEvent** ppEvent) override;
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                                         const PROPVARIANT* pvValue) override;

    // IMFMediaSession
    HRESULT STDMETHODCALLTYPE SetTopology(DWORD dwSetTopologyFlags, IMFTopology* pTopology) override;
    HRESULT STDMETHODCALLTYPE Start(const GUID* pguidTimeFormat,
                                    const PROPVARIANT* pvarStartPosition) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE Shutdown() override;

private:
    enum class State { Empty, Ready, Started, Closed };
    enum class Waiting { Nothing, SourcesStarted, SourcesStopped };

    struct SourceEntry {
        ComPtr<IMFMediaSource> source;
        ComPtr<IMFPresentationDescriptor> presentation;
        ComPtr<EventSubscription> events;
    };

    // Session thread. A command runs now or after the one in progress completes.
    HRESULT Submit(std::function<void()> command);
    void Complete();
    void Notify(MediaEventType type, HRESULT status, const PROPVARIANT* value = nullptr);

    void InstallTopology(std::vector<BranchPlan>& plans, const ComPtr<IMFTopology>& topology);
    HRESULT AddSource(const BranchPlan& plan);
    void BeginStart(const PROPVARIANT& startPosition);
    void FinishStart();
    void BeginStop(MediaEventType completion);
    void FinishStop();
    void OnSourceEvent(IMFMediaSource* source, IMFMediaEvent* event);
    void OnStream(IMFMediaSource* source, IMFMediaEvent* event);
    void OnFailure(HRESULT hr);
    void TearDown();

    ComPtr<IMFMediaEventQueue> m_eventQueue;
    std::shared_ptr<SerialExecutor> m_control;
    std::mutex m_mutex;
    bool m_shutdown = false;
    bool m_hasTopology = false;

    // Session thread only.
    State m_state = State::Empty;
    bool m_busy = false;
    std::deque<std::function<void()>> m_waiting;
    std::vector<std::unique_ptr<SessionBranch>> m_branches;
    std::vector<SourceEntry> m_sources;
    Waiting m_waitingFor = Waiting::Nothing;
    std::size_t m_sourcesPending = 0;
    LONGLONG m_startOffset = 0;
    MediaEventType m_stopCompletion = MESessionStopped;
    HRESULT m_stopResult = S_OK;
    bool m_failed = false;
};
