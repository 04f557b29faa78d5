#pragma once
// Records what a sink plays, through its monitor source, as 32-bit float frames in the WAVE channel order.
// Starts paused. Frames arrive on the connection's event thread, in fragments of about one latency.

#include "Connection.h"
#include "SinkFormat.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

struct pa_stream;

namespace pulse {

class MonitorStream {
public:
    // Whole frames; a null pointer stands for frames the server could not deliver (a gap).
    using FrameHandler = std::function<void(const void* frames, std::size_t frameCount)>;

    // Null when the stream cannot be set up within the timeout.
    static std::unique_ptr<MonitorStream> Open(std::shared_ptr<Connection> connection,
                                               const SinkFormat& format, std::chrono::milliseconds latency,
                                               FrameHandler handler, std::chrono::milliseconds timeout);
    ~MonitorStream();
    MonitorStream(const MonitorStream&) = delete;
    MonitorStream& operator=(const MonitorStream&) = delete;

    // Resumes or pauses delivery; false when the request cannot be sent (the stream has failed).
    bool SetRunning(bool running);
    // True once the stream or its server went away.
    bool IsFailed() const { return m_failed.load(std::memory_order_acquire); }

private:
    MonitorStream(std::shared_ptr<Connection> connection, std::size_t frameBytes, FrameHandler handler);
    static void OnStateChanged(pa_stream* stream, void* userdata);
    static void OnReadable(pa_stream* stream, std::size_t bytes, void* userdata);
    void Deliver(const void* data, std::size_t bytes);

    std::shared_ptr<Connection> m_connection;
    std::size_t m_frameBytes;
    FrameHandler m_handler;
    pa_stream* m_stream = nullptr;
    // The start of a frame split across two fragments.
    std::vector<unsigned char> m_partialFrame;
    std::atomic<bool> m_failed{false};
};

} // namespace pulse
