#pragma once
// Registered event handlers, added and removed by token, called outside the lock.

#include <winrt/Windows.Graphics.Capture.h>

#include <functional>
#include <map>
#include <mutex>

template <class... Args>
class HandlerList {
public:
    using Handler = std::function<void(Args...)>;

    EventToken Add(Handler handler) {
        std::lock_guard lock(m_mutex);
        const EventToken token{++m_lastToken};
        m_handlers.emplace(token.value, std::move(handler));
        return token;
    }

    void Remove(EventToken token) {
        std::lock_guard lock(m_mutex);
        m_handlers.erase(token.value);
    }

    void Invoke(Args... args) const {
        std::map<std::int64_t, Handler> handlers;
        {
            std::lock_guard lock(m_mutex);
            handlers = m_handlers;
        }
        for (const auto& [token, handler] : handlers)
            handler(args...);
    }

private:
    mutable std::mutex m_mutex;
    std::int64_t m_lastToken = 0;
    std::map<std::int64_t, Handler> m_handlers;
};
