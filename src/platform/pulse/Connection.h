#pragma once
// A connection to the sound server, served by its own event thread. Usable from any thread.

#include "SoundServer.h"

#include <chrono>
#include <memory>
#include <optional>

namespace pulse {

class Connection final : public SoundServer, public std::enable_shared_from_this<Connection> {
public:
    // Null when no server answers within the timeout. Never starts a server.
    static std::shared_ptr<Connection> Open(std::chrono::milliseconds timeout);
    ~Connection() override;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The server's default sink; nullopt when it has none, or the query fails or times out.
    std::optional<SinkFormat> DefaultSink(std::chrono::milliseconds timeout);
    bool IsFailed() const override;
    std::unique_ptr<FrameStream> OpenMonitor(const SinkFormat& format, std::chrono::milliseconds latency,
                                             FrameStream::FrameHandler handler,
                                             std::chrono::milliseconds timeout) override;
    // One at a time per connection: it owns the connection's event subscription.
    std::unique_ptr<FrameStream> FollowPlayback(const SinkFormat& format, std::chrono::milliseconds latency,
                                                PlaybackHandlers handlers,
                                                std::chrono::milliseconds timeout) override;

    struct State;
    State& Internal() { return *m_state; }

private:
    explicit Connection(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace pulse
