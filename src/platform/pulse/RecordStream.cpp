#include "RecordStream.h"

#include "WaveChannelMap.h"

#include <algorithm>
#include <utility>

namespace pulse {

namespace {

constexpr std::size_t BytesPerSample = 4;

pa_sample_spec RecordSpec(const SinkFormat& format) {
    return {PA_SAMPLE_FLOAT32LE, format.samplesPerSecond, static_cast<std::uint8_t>(format.channels)};
}

} // namespace

pa_stream* NewRecordStream(pa_context* context, const SinkFormat& format, const char* name) {
    const pa_sample_spec spec = RecordSpec(format);
    if (format.channels > PA_CHANNELS_MAX || pa_sample_spec_valid(&spec) == 0)
        return nullptr;
    const pa_channel_map map = WaveChannelMap(format.channels, format.channelMask);
    return pa_stream_new(context, name, &spec, &map);
}

pa_buffer_attr RecordBufferAttributes(const SinkFormat& format, std::chrono::milliseconds latency) {
    const pa_sample_spec spec = RecordSpec(format);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize =
        static_cast<std::uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(latency.count()) * 1000, &spec));
    return attributes;
}

std::size_t FrameBytes(const SinkFormat& format) { return BytesPerSample * format.channels; }

FrameReader::FrameReader(std::size_t frameBytes, FrameStream::FrameHandler handler)
    : m_frameBytes(frameBytes), m_handler(std::move(handler)) {}

void FrameReader::ReadAvailable(pa_stream* stream) {
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            break;
        Deliver(data, bytes);
        pa_stream_drop(stream);
    }
}

void FrameReader::Deliver(const void* data, std::size_t bytes) {
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
