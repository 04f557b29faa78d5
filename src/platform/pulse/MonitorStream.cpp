#include "MonitorStream.h"

#include "ConnectionState.h"
#include "RecordStream.h"

#include <utility>

namespace pulse {

namespace {

constexpr const char* StreamName = "loopback";

} // namespace

MonitorStream::MonitorStream(std::shared_ptr<Connection> connection, std::size_t frameBytes,
                             FrameHandler handler)
    : m_connection(std::move(connection)), m_reader(frameBytes, std::move(handler)) {}

std::unique_ptr<MonitorStream> MonitorStream::Open(std::shared_ptr<Connection> connection,
                                                   const SinkFormat& format,
                                                   std::chrono::milliseconds latency, FrameHandler handler,
                                                   std::chrono::milliseconds timeout) {
    Connection::State& state = connection->Internal();
    std::unique_ptr<MonitorStream> stream(
        new MonitorStream(std::move(connection), FrameBytes(format), std::move(handler)));

    MainLoopLock lock(state.mainloop);
    stream->m_stream = NewRecordStream(state.context, format, StreamName);
    if (stream->m_stream == nullptr)
        return nullptr;
    pa_stream_set_state_callback(stream->m_stream, &MonitorStream::OnStateChanged, stream.get());
    pa_stream_set_read_callback(stream->m_stream, &MonitorStream::OnReadable, stream.get());

    const pa_buffer_attr attributes = RecordBufferAttributes(format, latency);
    // A sink that goes away ends the stream rather than moving it to another sink's monitor.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                                      PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream->m_stream, format.monitorSource.c_str(), &attributes, flags) < 0)
        return nullptr;
    pa_stream* raw = stream->m_stream;
    WaitLocked(state, timeout, [raw] {
        const pa_stream_state_t streamState = pa_stream_get_state(raw);
        return streamState == PA_STREAM_READY || !PA_STREAM_IS_GOOD(streamState);
    });
    if (pa_stream_get_state(raw) != PA_STREAM_READY)
        return nullptr;
    return stream;
}

MonitorStream::~MonitorStream() {
    if (m_stream == nullptr)
        return;
    MainLoopLock lock(m_connection->Internal().mainloop);
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
        pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
}

bool MonitorStream::SetRunning(bool running) {
    MainLoopLock lock(m_connection->Internal().mainloop);
    if (IsFailed())
        return false;
    pa_operation* operation = pa_stream_cork(m_stream, running ? 0 : 1, nullptr, nullptr);
    if (operation == nullptr)
        return false;
    pa_operation_unref(operation);
    return true;
}

void MonitorStream::OnStateChanged(pa_stream* stream, void* userdata) {
    auto* self = static_cast<MonitorStream*>(userdata);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        self->m_failed.store(true, std::memory_order_release);
    pa_threaded_mainloop_signal(self->m_connection->Internal().mainloop, 0);
}

void MonitorStream::OnReadable(pa_stream* stream, std::size_t, void* userdata) {
    auto* self = static_cast<MonitorStream*>(userdata);
    try {
        self->m_reader.ReadAvailable(stream);
    } catch (...) {
        // Nothing may unwind through the library; a stream that cannot take its data is as good as gone.
        self->m_failed.store(true, std::memory_order_release);
    }
}

} // namespace pulse
