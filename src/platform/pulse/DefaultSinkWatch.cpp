#include "DefaultSinkWatch.h"

#include "Connection.h"

namespace pulse {

DefaultSinkWatch::DefaultSinkWatch(std::chrono::milliseconds interval)
    : m_interval(interval), m_thread([this] { Run(); }) {}

DefaultSinkWatch::~DefaultSinkWatch() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void DefaultSinkWatch::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, m_interval, [this] { return m_stopping; })) {
        lock.unlock();
        const auto connection = Connection::Open(m_interval);
        const bool found = connection && connection->DefaultSink(m_interval).has_value();
        lock.lock();
        if (found) {
            m_appeared.store(true, std::memory_order_release);
            return;
        }
    }
}

} // namespace pulse
