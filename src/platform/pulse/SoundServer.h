#pragma once
// What a loopback capture needs of the sound server: whether it is still there, a recording of what a sink
// plays, and recordings of the playback streams of chosen processes.

#include "FrameStream.h"
#include "SinkFormat.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace pulse {

// What to do with the server's playback streams; every call comes on the connection's event thread.
struct PlaybackHandlers {
    // Whether to record the streams of the client whose process has this id.
    std::function<bool(std::uint32_t processId)> follows;
    // Whole frames of a followed stream, named by the server's index of it; null frames stand for a gap.
    std::function<void(std::uint32_t stream, const void* frames, std::size_t frameCount)> frames;
    // The stream ended (closed, moved or failed); no more frames of it come.
    std::function<void(std::uint32_t stream)> ended;
};

class SoundServer {
public:
    virtual ~SoundServer() = default;

    // True once the server went away; it never comes back.
    virtual bool IsFailed() const = 0;
    // Records the sink's monitor, paused until SetRunning(true), in fragments of about `latency`. Null when
    // the stream cannot be set up within the timeout.
    virtual std::unique_ptr<FrameStream> OpenMonitor(const SinkFormat& format,
                                                     std::chrono::milliseconds latency,
                                                     FrameStream::FrameHandler handler,
                                                     std::chrono::milliseconds timeout) = 0;
    // Records, each through a monitor of its own, the playback streams of every client that `follows`
    // accepts, those playing now (set up, within the timeout, before it returns) and those that start later,
    // in `format`, paused until SetRunning(true). The result fails when the server goes away. Null when the
    // server cannot be asked within the timeout.
    virtual std::unique_ptr<FrameStream> FollowPlayback(const SinkFormat& format,
                                                        std::chrono::milliseconds latency,
                                                        PlaybackHandlers handlers,
                                                        std::chrono::milliseconds timeout) = 0;
};

} // namespace pulse
