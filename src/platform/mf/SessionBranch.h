#pragma once
// One branch of a running session: a source stream, its transforms and its stream sink, all driven from the
// branch's own thread. A sample is requested from the stream only when the branch can take it: no earlier
// sample is still waiting in front of a transform or the sink, and the first transform accepts input.
// Any failure halts the branch and is reported once to the session.

#include "EventSubscription.h"
#include "SessionTopology.h"
#include "TransformStage.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class SessionBranch {
public:
    using ErrorReport = std::function<void(HRESULT hr)>;

    // Starts the branch's thread; throws std::system_error when it cannot.
    SessionBranch(BranchPlan plan, ErrorReport report);
    ~SessionBranch();
    SessionBranch(const SessionBranch&) = delete;
    SessionBranch& operator=(const SessionBranch&) = delete;

    // The calls below come from the session's own thread and run on the branch's thread.

    // Unlocks the asynchronous transforms and starts listening to them and to the sink.
    HRESULT Prepare();
    bool Serves(IMFMediaSource* source, DWORD streamId) const;
    const BranchPlan& Plan() const { return m_plan; }
    HRESULT AttachStream(IMFMediaStream* stream);
    // Starts the transforms and the sink's clock; samples flow after Resume.
    HRESULT Start(MFTIME systemTime, LONGLONG startOffset);
    void Resume();
    HRESULT Stop();
    // Stops asking for samples after a failure elsewhere in the session.
    void Halt();
    // Joins the thread, stops listening and shuts the sink down.
    void Shutdown();

private:
    void OnStreamEvent(IMFMediaEvent* event);
    void OnTransformEvent(TransformStage& stage, IMFMediaEvent* event);
    void OnSinkEvent(IMFMediaEvent* event);
    void Accept(IMFMediaEvent* event);
    void Pump();
    HRESULT MoveSamples(bool& progressed);
    void RequestMore();
    void Fail(HRESULT hr);
    bool RunOnBranch(const std::function<void()>& task);

    BranchPlan m_plan;
    const ErrorReport m_report;
    std::shared_ptr<SerialExecutor> m_executor;
    std::vector<std::unique_ptr<TransformStage>> m_stages;
    std::vector<ComPtr<EventSubscription>> m_subscriptions;
    ComPtr<IMFMediaSink> m_mediaSink;
    ComPtr<IMFClockStateSink> m_sinkClock;

    // Branch thread only.
    ComPtr<IMFMediaStream> m_stream;
    ComPtr<EventSubscription> m_streamEvents;
    std::deque<ComPtr<IMFSample>> m_sinkInput;
    unsigned m_sinkRequests = 0;
    bool m_running = false;
    bool m_requestPending = false;
    bool m_streamEnded = false;
    std::atomic<bool> m_halted{false};
};
