#include "SerialExecutor.h"

#include <mferror.h>
#include <wrl/implements.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unordered_map>

namespace {

thread_local bool t_onWorker = false;

// Well away from the platform's own queue ids.
constexpr DWORD FirstQueueId = 0x40000000;
std::atomic<DWORD> g_nextQueueId{FirstQueueId};

} // namespace

// Shared with the worker, so a worker detached by its own task's Close stays valid until it returns.
struct SerialExecutor::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool closed = false;
    std::thread thread;
    // Set before the first task can be posted and never changed, so any thread may read it.
    std::thread::id workerId;

    bool Post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex);
            if (closed)
                return false;
            tasks.push_back(std::move(task));
        }
        wake.notify_one();
        return true;
    }

    static void Run(const std::shared_ptr<State>& state, const std::string& name) {
        pthread_setname_np(pthread_self(), name.c_str());
        t_onWorker = true;
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(state->mutex);
                state->wake.wait(lock, [&] { return state->closed || !state->tasks.empty(); });
                if (state->closed)
                    return;
                task = std::move(state->tasks.front());
                state->tasks.pop_front();
            }
            task();
        }
    }
};

namespace {

struct QueueRegistry {
    std::mutex mutex;
    std::unordered_map<DWORD, std::weak_ptr<SerialExecutor::State>> executors;
};

QueueRegistry& Registry() {
    // Never destroyed: executors may be closed from static destructors.
    static auto* registry = new QueueRegistry;
    return *registry;
}

} // namespace

SerialExecutor::SerialExecutor(const char* threadName)
    : m_state(std::make_shared<State>()), m_queueId(g_nextQueueId++) {
    {
        QueueRegistry& registry = Registry();
        std::lock_guard lock(registry.mutex);
        registry.executors.emplace(m_queueId, m_state);
    }
    try {
        m_state->thread = std::thread(State::Run, m_state, std::string(threadName).substr(0, 15));
    } catch (...) {
        QueueRegistry& registry = Registry();
        std::lock_guard lock(registry.mutex);
        registry.executors.erase(m_queueId);
        throw;
    }
    m_state->workerId = m_state->thread.get_id();
}

SerialExecutor::~SerialExecutor() {
    Close();
    QueueRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    registry.executors.erase(m_queueId);
}

HRESULT SerialExecutor::PutWorkItem(DWORD queue, IMFAsyncCallback* callback, IMFAsyncResult* result) {
    if (queue < FirstQueueId)
        return MF_E_INVALID_WORKQUEUE;
    if (callback == nullptr || result == nullptr)
        return E_POINTER;
    std::shared_ptr<State> state;
    {
        QueueRegistry& registry = Registry();
        std::lock_guard lock(registry.mutex);
        const auto found = registry.executors.find(queue);
        if (found == registry.executors.end())
            return MF_E_INVALID_WORKQUEUE;
        state = found->second.lock();
    }
    if (!state)
        return MF_E_SHUTDOWN;
    return NoThrow([&] {
        // The callback's result is its own business, as on the shared work queue.
        return state->Post([held = ComPtr<IMFAsyncCallback>(callback),
                            work = ComPtr<IMFAsyncResult>(result)] { held->Invoke(work.Get()); })
                   ? S_OK
                   : MF_E_SHUTDOWN;
    });
}

bool SerialExecutor::Post(std::function<void()> task) { return m_state->Post(std::move(task)); }

bool SerialExecutor::Run(std::function<void()> task) {
    if (IsWorkerThread()) {
        task();
        return true;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    if (!Post([task = std::move(task), done] {
            task();
            done->set_value();
        }))
        return false;
    done.reset();
    try {
        // A task dropped by Close breaks its promise.
        finished.get();
        return true;
    } catch (const std::future_error&) {
        return false;
    }
}

void SerialExecutor::Close() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->closed)
            return;
        m_state->closed = true;
        dropped.swap(m_state->tasks);
    }
    m_state->wake.notify_all();
    if (IsWorkerThread())
        m_state->thread.detach();
    else if (m_state->thread.joinable())
        m_state->thread.join();
}

bool SerialExecutor::IsWorkerThread() const { return std::this_thread::get_id() == m_state->workerId; }

bool SerialExecutor::OnAnyWorkerThread() { return t_onWorker; }
