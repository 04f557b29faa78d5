#pragma once
// Fills the capture buffer with what one process tree plays: each of its playback streams is recorded on
// its own (streams come and go) and they are mixed at the output's rate and channels, at real-time pace on
// the capture clock, so that the buffer fills evenly, with silence while the tree plays nothing. Frames
// arrive on the server connection's thread; the mix is made when the reader looks.

#include "CapturePacketQueue.h"
#include "FrameClock.h"
#include "LoopbackSource.h"
#include "platform/pulse/SoundServer.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class ProcessLoopbackSource final : public LoopbackSource {
public:
    // Null when the server cannot be asked for the streams (it went away).
    static std::unique_ptr<ProcessLoopbackSource> Open(pulse::SoundServer& server,
                                                       const pulse::SinkFormat& format, DWORD processTree,
                                                       CapturePacketQueue& queue);
    ~ProcessLoopbackSource() override;

    bool Start() override;
    bool Stop() override;
    void Produce() override;
    bool IsInvalidated() const override;

private:
    // Frames of one stream not yet mixed. A stream joins the mix once it holds a little, so that the uneven
    // pace at which the server hands frames over does not chop it.
    struct StreamFrames {
        std::deque<float> samples;
        bool primed = false;
        bool ended = false;
    };

    ProcessLoopbackSource(CapturePacketQueue& queue, const pulse::SinkFormat& format);
    void OnFrames(std::uint32_t stream, const void* frames, std::size_t frameCount);
    void OnEnded(std::uint32_t stream);
    void MixUntil(INT64 now);

    CapturePacketQueue& m_queue;
    const std::size_t m_channels;
    const std::size_t m_primeFrames;
    const std::size_t m_maximumFrames;

    std::mutex m_mutex;
    bool m_running = false;
    FrameClock m_clock;
    std::map<std::uint32_t, StreamFrames> m_streams;
    std::vector<float> m_mix;
    // Last, so that it goes first: no frames arrive once the rest is being torn down.
    std::unique_ptr<pulse::FrameStream> m_follower;
};
