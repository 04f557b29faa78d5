#pragma once
// Records the playback streams of chosen processes, each through a monitor of that one stream (the server
// hands a stream's monitor what the stream plays, converted to the recording's format). Streams are
// followed as they come and go: the server reports new and changed streams, the stream's client tells its
// process. Everything but construction, SetRunning and destruction happens on the connection's event thread.

#include "Connection.h"
#include "FrameStream.h"
#include "RecordStream.h"
#include "SinkFormat.h"
#include "SoundServer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace pulse {

class PlaybackFollower final : public FrameStream {
public:
    // Null when the server cannot be subscribed to within the timeout.
    static std::unique_ptr<PlaybackFollower> Open(std::shared_ptr<Connection> connection,
                                                  const SinkFormat& format, std::chrono::milliseconds latency,
                                                  PlaybackHandlers handlers,
                                                  std::chrono::milliseconds timeout);
    ~PlaybackFollower() override;
    PlaybackFollower(const PlaybackFollower&) = delete;
    PlaybackFollower& operator=(const PlaybackFollower&) = delete;

    bool SetRunning(bool running) override;
    bool IsFailed() const override;

private:
    struct Followed {
        PlaybackFollower* owner;
        std::uint32_t index;
        pa_stream* stream = nullptr;
        FrameReader reader;
        bool ended = false;
    };

    PlaybackFollower(std::shared_ptr<Connection> connection, const SinkFormat& format,
                     std::chrono::milliseconds latency, PlaybackHandlers handlers);
    static void OnEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                        void* userdata);
    static void OnSinkInput(pa_context* context, const pa_sink_input_info* info, int eol, void* userdata);
    static void OnClient(pa_context* context, const pa_client_info* info, int eol, void* userdata);
    static void OnStreamState(pa_stream* stream, void* userdata);
    static void OnStreamReadable(pa_stream* stream, std::size_t bytes, void* userdata);

    // No question to the server is open and no recording is still being set up.
    bool IsSettled() const;
    void Track(pa_operation* operation);
    void Decide(std::uint32_t sinkInput, std::uint32_t processId);
    void Follow(std::uint32_t sinkInput);
    void End(Followed& followed);
    void Drop(std::uint32_t sinkInput);
    static void Close(Followed& followed);

    std::shared_ptr<Connection> m_connection;
    const SinkFormat m_format;
    const std::chrono::milliseconds m_latency;
    const PlaybackHandlers m_handlers;

    // The rest is used with the main loop locked.
    bool m_running = false;
    std::map<std::uint32_t, std::unique_ptr<Followed>> m_followed;
    // The process of each client asked about so far, and the streams waiting for a client's answer.
    std::map<std::uint32_t, std::uint32_t> m_clientProcesses;
    std::map<std::uint32_t, std::vector<std::uint32_t>> m_waitingForClient;
    std::vector<pa_operation*> m_pending;
    std::atomic<bool> m_failed{false};
};

} // namespace pulse
