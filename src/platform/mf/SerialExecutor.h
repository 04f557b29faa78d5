#pragma once
// One worker thread that runs posted tasks one at a time, in order. A media session gives each branch of its
// topology one of these, so every call into a branch's transforms and sink comes from a single thread.

#include <mfobjects.h>

#include <functional>
#include <memory>

class SerialExecutor {
public:
    // Starts the worker; throws std::system_error when no thread can be created.
    explicit SerialExecutor(const char* threadName);
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    // False once closed: the task is dropped.
    bool Post(std::function<void()> task);
    // Runs the task on the worker (inline when called there) and waits for it; false when it was dropped.
    bool Run(std::function<void()> task);
    // Drops the tasks not yet started and waits for the running one; on the worker itself it only detaches.
    void Close();
    bool IsWorkerThread() const;
    // Whether the caller runs on the worker of any executor.
    static bool OnAnyWorkerThread();

    // The work-queue id that runs platform callbacks on this worker: a callback whose parameters name it is
    // invoked here directly, without a detour through the shared work queue's threads.
    DWORD WorkQueueId() const { return m_queueId; }
    // Queues callback->Invoke(result) on the executor with that id; MF_E_INVALID_WORKQUEUE when no executor
    // has it, MF_E_SHUTDOWN once it is closed.
    static HRESULT PutWorkItem(DWORD queue, IMFAsyncCallback* callback, IMFAsyncResult* result);

    struct State;

private:
    std::shared_ptr<State> m_state;
    DWORD m_queueId;
};
