#pragma once
// What a loopback capture needs of the sound server: whether it is still there, and a recording of what a
// sink plays.

#include "FrameStream.h"
#include "SinkFormat.h"

#include <chrono>
#include <memory>

namespace pulse {

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
};

} // namespace pulse
