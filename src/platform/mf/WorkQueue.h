#pragma once
// The pool of worker threads behind the platform's standard work queues. Items start in the order they were
// queued; several may run at once.

#include <mfobjects.h>
#include <wrl/client.h>

#include <memory>

class WorkQueue {
public:
    // Starts the worker threads; throws when a thread cannot be created (none is left running then).
    WorkQueue();
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // Queues callback->Invoke(result); MF_E_SHUTDOWN once stopped, MF_E_INVALID_WORKQUEUE for an unknown id.
    HRESULT Put(DWORD queue, IMFAsyncCallback* callback, IMFAsyncResult* result);

    // Releases the queued items without running them and waits for the running ones, except the caller's own
    // when a work item stops the queue.
    void Stop();

    struct Pool;

private:
    std::shared_ptr<Pool> m_pool;
};
