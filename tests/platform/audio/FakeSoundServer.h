#pragma once
// A sound server the test drives by hand: the streams clients open on it are handed frames and failed on the
// test's thread.

#include "platform/pulse/SoundServer.h"
#include <mmreg.h>

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

// The fake server's default output: 48 kHz stereo, recorded through "output.monitor".
constexpr std::uint32_t FakeOutputRate = 48000;
constexpr std::uint32_t FakeOutputChannels = 2;
inline pulse::SinkFormat FakeOutput() {
    pulse::SinkFormat format;
    format.monitorSource = "output.monitor";
    format.samplesPerSecond = FakeOutputRate;
    format.channels = FakeOutputChannels;
    format.channelMask = KSAUDIO_SPEAKER_STEREO;
    return format;
}

// A sink's monitor stream a client opened.
class FakeStream final : public pulse::FrameStream {
public:
    FakeStream(FrameHandler handler, std::size_t channels)
        : m_handler(std::move(handler)), m_channels(channels) {}

    bool SetRunning(bool value) override {
        running = value && !failed;
        return !failed;
    }
    bool IsFailed() const override { return failed; }

    void Feed(const std::vector<float>& samples) { m_handler(samples.data(), samples.size() / m_channels); }
    void Feed(const float* samples, std::size_t frames) { m_handler(samples, frames); }
    void Gap(std::size_t frames) { m_handler(nullptr, frames); }

    bool running = false;
    bool failed = false;

private:
    FrameHandler m_handler;
    std::size_t m_channels;
};

// The playback streams a client follows: the test plays frames on them and ends them.
class FakeFollower final : public pulse::FrameStream {
public:
    FakeFollower(pulse::PlaybackHandlers handlers, std::size_t channels)
        : handlers(std::move(handlers)), m_channels(channels) {}

    bool SetRunning(bool value) override {
        running = value && !failed;
        return !failed;
    }
    bool IsFailed() const override { return failed; }

    void Play(std::uint32_t stream, const std::vector<float>& samples) {
        handlers.frames(stream, samples.data(), samples.size() / m_channels);
    }

    pulse::PlaybackHandlers handlers;
    bool running = false;
    bool failed = false;

private:
    std::size_t m_channels;
};

class FakeServer final : public pulse::SoundServer {
public:
    bool IsFailed() const override { return failed; }
    std::unique_ptr<pulse::FrameStream> OpenMonitor(const pulse::SinkFormat& format,
                                                    std::chrono::milliseconds,
                                                    pulse::FrameStream::FrameHandler handler,
                                                    std::chrono::milliseconds) override {
        EXPECT_EQ(format.monitorSource, FakeOutput().monitorSource);
        if (failed || refusesStreams)
            return nullptr;
        auto opened = std::make_unique<FakeStream>(std::move(handler), format.channels);
        stream = opened.get();
        return opened;
    }
    std::unique_ptr<pulse::FrameStream> FollowPlayback(const pulse::SinkFormat& format,
                                                       std::chrono::milliseconds,
                                                       pulse::PlaybackHandlers handlers,
                                                       std::chrono::milliseconds) override {
        if (failed || refusesStreams)
            return nullptr;
        followedFormat = format;
        auto opened = std::make_unique<FakeFollower>(std::move(handlers), format.channels);
        follower = opened.get();
        return opened;
    }

    bool failed = false;
    bool refusesStreams = false;
    // The latest ones, owned by their clients.
    FakeStream* stream = nullptr;
    FakeFollower* follower = nullptr;
    pulse::SinkFormat followedFormat;
};
