#include "MonitorStream.h"

#include "ConnectionState.h"
#include "WaveChannelMap.h"

#include <algorithm>
#include <utility>

namespace pulse {

namespace {

constexpr const char* StreamName = "loopback";
constexpr std::size_t BytesPerSample = 4;

} // namespace

MonitorStream::MonitorStream(std::shared_ptr<Connection> connection, std::size_t frameBytes,
                             FrameHandler handler)
    : m_connection(std::move(connection)), m_frameBytes(frameBytes), m_handler(std::move(handler)) {}

std::unique_ptr<MonitorStream> MonitorStream::Open(std::shared_ptr<Connection> connection,
                                                   const SinkFormat& format,
                                                   std::chrono::milliseconds latency, FrameHandler handler,
                                                   std::chrono::milliseconds timeout) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, format.samplesPerSecond,
                              static_cast<std::uint8_t>(format.channels)};
    if (format.channels > PA_CHANNELS_MAX || pa_sample_spec_valid(&spec) == 0)
        return nullptr;
    Connection::State& state = connection->Internal();
    std::unique_ptr<MonitorStream> stream(
        new MonitorStream(std::move(connection), BytesPerSample * format.channels, std::move(handler)));

    MainLoopLock lock(state.mainloop);
    const pa_channel_map map = WaveChannelMap(format.channels, format.channelMask);
    stream->m_stream = pa_stream_new(state.context, StreamName, &spec, &map);
    if (stream->m_stream == nullptr)
        return nullptr;
    pa_stream_set_state_callback(stream->m_stream, &MonitorStream::OnStateChanged, stream.get());
    pa_stream_set_read_callback(stream->m_stream, &MonitorStream::OnReadable, stream.get());

    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize =
        static_cast<std::uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(latency.count()) * 1000, &spec));
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
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                break;
            self->Deliver(data, bytes);
            pa_stream_drop(stream);
        }
    } catch (...) {
        // Nothing may unwind through the library; a stream that cannot take its data is as good as gone.
        self->m_failed.store(true, std::memory_order_release);
    }
}

void MonitorStream::Deliver(const void* data, std::size_t bytes) {
    if (data == nullptr) {
        m_partialFrame.clear();
        m_handler(nullptr, bytes / m_frameBytes);
        return;
    }
    const auto* next = static_cast<const unsigned char*>(data);
    if (!m_partialFrame.empty()) {
        const std::size_t take = std::min(m_frameBytes - m_partialFrame.size(), bytes);
        m_partialFrame.insert(m_partialFrame.end(), next, next + take);
        next += take;
        bytes -= take;
        if (m_partialFrame.size() < m_frameBytes)
            return;
        m_handler(m_partialFrame.data(), 1);
        m_partialFrame.clear();
    }
    const std::size_t frames = bytes / m_frameBytes;
    if (frames > 0)
        m_handler(next, frames);
    m_partialFrame.assign(next + frames * m_frameBytes, next + bytes);
}

} // namespace pulse
