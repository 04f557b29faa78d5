#include "SerialExecutor.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

thread_local bool t_onWorker = false;

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

SerialExecutor::SerialExecutor(const char* threadName) : m_state(std::make_shared<State>()) {
    m_state->thread = std::thread(State::Run, m_state, std::string(threadName).substr(0, 15));
    m_state->workerId = m_state->thread.get_id();
}

SerialExecutor::~SerialExecutor() { Close(); }

bool SerialExecutor::Post(std::function<void()> task) {
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->closed)
            return false;
        m_state->tasks.push_back(std::move(task));
    }
    m_state->wake.notify_one();
    return true;
}

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
