#pragma once
// Inside the backend only: what every record stream of ours shares. Streams read 32-bit float frames in the
// WAVE channel order of a sink format, and their fragments are handed over as whole frames.

#include "FrameStream.h"
#include "SinkFormat.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstddef>
#include <vector>

namespace pulse {

// With the main loop locked: a new, unconnected record stream in the format; null when the format is not
// one the server can take.
pa_stream* NewRecordStream(pa_context* context, const SinkFormat& format, const char* name);

// Buffering for fragments of about `latency`, the rest left to the server.
pa_buffer_attr RecordBufferAttributes(const SinkFormat& format, std::chrono::milliseconds latency);

std::size_t FrameBytes(const SinkFormat& format);

// Hands a stream's readable fragments to a handler as whole frames: a frame split across two fragments goes
// over once complete. Used on the connection's event thread.
class FrameReader {
public:
    FrameReader(std::size_t frameBytes, FrameStream::FrameHandler handler);

    // Reads and drops everything readable; the handler's exceptions pass through.
    void ReadAvailable(pa_stream* stream);

private:
    void Deliver(const void* data, std::size_t bytes);

    std::size_t m_frameBytes;
    FrameStream::FrameHandler m_handler;
    // The start of a frame split across two fragments.
    std::vector<unsigned char> m_partialFrame;
};

} // namespace pulse
