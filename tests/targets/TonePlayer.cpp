#include "TonePlayer.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <numbers>
#include <pthread.h>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 48000;
constexpr int kChannels = 2;
constexpr std::size_t kBlockFrames = kRate / 100;
constexpr float kAmplitude = 0.3f;

std::string ErrorText(int error) {
    switch (error) {
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_INVALIDSERVER:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_TIMEOUT:
        return "no sound server";
    default:
        return pa_strerror(error);
    }
}

} // namespace

TonePlayer::TonePlayer(std::string clientName) : m_clientName(std::move(clientName)) {}

TonePlayer::~TonePlayer() { Stop(); }

std::string TonePlayer::Play(double hz) {
    std::unique_lock lock(m_mutex);
    if (m_finished && m_thread.joinable()) {
        // The stream was lost since the last call: start over with a fresh one.
        lock.unlock();
        m_thread.join();
        lock.lock();
    }
    m_hz = hz;
    const std::uint64_t request = ++m_requested;
    if (!m_thread.joinable()) {
        m_stop = false;
        m_finished = false;
        m_error.clear();
        m_written = 0;
        m_thread = std::thread([this] { Run(); });
    }
    m_changed.wait(lock, [&] { return m_written >= request || m_finished; });
    if (m_written >= request)
        return {};
    const std::string error = m_error;
    lock.unlock();
    m_thread.join();
    return error;
}

void TonePlayer::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    if (m_thread.joinable())
        m_thread.join();
}

void TonePlayer::Finish(std::string error) {
    std::lock_guard lock(m_mutex);
    m_error = std::move(error);
    m_finished = true;
    m_changed.notify_all();
}

void TonePlayer::Run() {
    // Signals belong to the program's main thread, which decides how to end.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, kChannels};
    const std::uint32_t blockBytes = kBlockFrames * kChannels * sizeof(float);
    pa_buffer_attr attr{};
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = 4 * blockBytes;
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = blockBytes;
    attr.fragsize = std::uint32_t(-1);
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, m_clientName.c_str(), PA_STREAM_PLAYBACK, nullptr, "tone",
                                      &spec, nullptr, &attr, &error);
    if (stream == nullptr) {
        Finish(ErrorText(error));
        return;
    }

    std::vector<float> block(kBlockFrames * kChannels);
    double phase = 0; // in turns, kept across blocks and frequency changes so the wave never jumps
    std::string lost;
    for (;;) {
        double hz;
        std::uint64_t request;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                break;
            hz = m_hz;
            request = m_requested;
        }
        for (std::size_t i = 0; i < kBlockFrames; ++i) {
            const float value = kAmplitude * float(std::sin(2 * std::numbers::pi * phase));
            block[2 * i] = block[2 * i + 1] = value;
            phase += hz / kRate;
            phase -= std::floor(phase);
        }
        if (pa_simple_write(stream, block.data(), blockBytes, &error) < 0) {
            lost = ErrorText(error);
            std::fprintf(stderr, "%s: tone stopped: %s\n", m_clientName.c_str(), lost.c_str());
            break;
        }
        std::lock_guard lock(m_mutex);
        m_written = request;
        m_changed.notify_all();
    }
    // Whatever is still buffered is dropped rather than played out, so the tone ends now.
    pa_simple_flush(stream, nullptr);
    pa_simple_free(stream);
    Finish(lost);
}
