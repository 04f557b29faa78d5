#include "WorkQueue.h"

#include <mferror.h>
#include <wrl/implements.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

namespace {

struct WorkItem {
    ComPtr<IMFAsyncCallback> callback;
    ComPtr<IMFAsyncResult> result;
};

bool IsPlatformQueue(DWORD queue) {
    switch (queue) {
    case MFASYNC_CALLBACK_QUEUE_UNDEFINED:
    case MFASYNC_CALLBACK_QUEUE_STANDARD:
    case MFASYNC_CALLBACK_QUEUE_RT:
    case MFASYNC_CALLBACK_QUEUE_IO:
    case MFASYNC_CALLBACK_QUEUE_TIMER:
    case MFASYNC_CALLBACK_QUEUE_MULTITHREADED:
    case MFASYNC_CALLBACK_QUEUE_LONG_FUNCTION:
        return true;
    default:
        return false;
    }
}

} // namespace

// Shared with the worker threads, so a thread that outlives Stop (its own item stopped the queue) stays
// valid.
struct WorkQueue::Pool {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<WorkItem> items;
    bool stopping = false;
    std::vector<std::thread> threads;

    static void Run(const std::shared_ptr<Pool>& pool) {
        pthread_setname_np(pthread_self(), "mf-work");
        for (;;) {
            WorkItem item;
            {
                std::unique_lock lock(pool->mutex);
                pool->wake.wait(lock, [&] { return pool->stopping || !pool->items.empty(); });
                if (pool->stopping)
                    return;
                item = std::move(pool->items.front());
                pool->items.pop_front();
            }
            // The callback's result is its own business, as on Windows.
            item.callback->Invoke(item.result.Get());
        }
    }

    void Stop() {
        std::deque<WorkItem> dropped;
        {
            std::lock_guard lock(mutex);
            if (stopping)
                return;
            stopping = true;
            dropped.swap(items);
        }
        wake.notify_all();
        // Let go of the unrun items now, not only after the running ones have finished.
        dropped.clear();
        for (std::thread& thread : threads) {
            if (thread.get_id() == std::this_thread::get_id())
                thread.detach();
            else
                thread.join();
        }
    }
};

WorkQueue::WorkQueue() : m_pool(std::make_shared<Pool>()) {
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    try {
        m_pool->threads.reserve(count);
        for (unsigned i = 0; i < count; ++i)
            m_pool->threads.emplace_back(Pool::Run, m_pool);
    } catch (...) {
        m_pool->Stop();
        throw;
    }
}

WorkQueue::~WorkQueue() { m_pool->Stop(); }

void WorkQueue::Stop() { m_pool->Stop(); }

HRESULT WorkQueue::Put(DWORD queue, IMFAsyncCallback* callback, IMFAsyncResult* result) {
    if (callback == nullptr || result == nullptr)
        return E_POINTER;
    if (!IsPlatformQueue(queue))
        return MF_E_INVALID_WORKQUEUE;
    return NoThrow([&] {
        {
            std::lock_guard lock(m_pool->mutex);
            if (m_pool->stopping)
                return MF_E_SHUTDOWN;
            m_pool->items.push_back({callback, result});
        }
        m_pool->wake.notify_one();
        return S_OK;
    });
}
