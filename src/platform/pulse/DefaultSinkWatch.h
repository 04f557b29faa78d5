#pragma once
// Watches, on a thread of its own, for a server with a default sink to become reachable: the silent stand-in
// device gives way once real output exists.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace pulse {

class DefaultSinkWatch {
public:
    explicit DefaultSinkWatch(std::chrono::milliseconds interval);
    // Waits for an attempt in progress to end.
    ~DefaultSinkWatch();
    DefaultSinkWatch(const DefaultSinkWatch&) = delete;
    DefaultSinkWatch& operator=(const DefaultSinkWatch&) = delete;

    bool SinkAppeared() const { return m_appeared.load(std::memory_order_acquire); }

private:
    void Run();

    std::chrono::milliseconds m_interval;
    std::atomic<bool> m_appeared{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace pulse
