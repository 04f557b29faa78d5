#pragma once
// Records what a sink plays, through its monitor source, as 32-bit float frames in the WAVE channel order.
// Starts paused. Frames arrive on the connection's event thread, in fragments of about one latency.

#include "Connection.h"
#include "FrameStream.h"
#include "RecordStream.h"
#include "SinkFormat.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>

struct pa_stream;

namespace pulse {

class MonitorStream final : public FrameStream {
public:
    // Null when the stream cannot be set up within the timeout.
    static std::unique_ptr<MonitorStream> Open(std::shared_ptr<Connection> connection,
                                               const SinkFormat& format, std::chrono::milliseconds latency,
                                               FrameHandler handler, std::chrono::milliseconds timeout);
    ~MonitorStream() override;
    MonitorStream(const MonitorStream&) = delete;
    MonitorStream& operator=(const MonitorStream&) = delete;

    bool SetRunning(bool running) override;
    bool IsFailed() const override { return m_failed.load(std::memory_order_acquire); }

private:
    MonitorStream(std::shared_ptr<Connection> connection, std::size_t frameBytes, FrameHandler handler);
    static void OnStateChanged(pa_stream* stream, void* userdata);
    static void OnReadable(pa_stream* stream, std::size_t bytes, void* userdata);

    std::shared_ptr<Connection> m_connection;
    FrameReader m_reader;
    pa_stream* m_stream = nullptr;
    std::atomic<bool> m_failed{false};
};

} // namespace pulse
