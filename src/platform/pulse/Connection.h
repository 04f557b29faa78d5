#pragma once
// A connection to the sound server, served by its own event thread. Usable from any thread.

#include "SinkFormat.h"

#include <chrono>
#include <memory>
#include <optional>

namespace pulse {

class Connection {
public:
    // Null when no server answers within the timeout. Never starts a server.
    static std::shared_ptr<Connection> Open(std::chrono::milliseconds timeout);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The server's default sink; nullopt when it has none, or the query fails or times out.
    std::optional<SinkFormat> DefaultSink(std::chrono::milliseconds timeout);
    // True once the server went away; a failed connection never recovers.
    bool IsFailed() const;

    struct State;
    State& Internal() { return *m_state; }

private:
    explicit Connection(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace pulse
