#pragma once
// Plays a continuous sine on the default PulseAudio sink (48 kHz stereo float, amplitude 0.3) from a thread
// of its own. It writes 10 ms blocks into a short server buffer, so a new frequency is heard and a stop takes
// effect within a few tens of milliseconds.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class TonePlayer {
public:
    explicit TonePlayer(std::string clientName);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    // Starts a tone of `hz`, or moves a playing one to it without a break in the wave. Returns once the
    // first block of that frequency was written: an empty string, or why it cannot play ("no sound server"
    // when none could be reached).
    std::string Play(double hz);
    // Stops the tone and closes the stream; returns once it is closed. Nothing happens when none plays.
    void Stop();

private:
    void Run();
    void Finish(std::string error);

    const std::string m_clientName;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    double m_hz = 0;
    std::uint64_t m_requested = 0; // bumped by every Play
    std::uint64_t m_written = 0;   // the request whose frequency the last written block had
    bool m_stop = false;
    bool m_finished = true; // the thread has closed its stream (or never opened one)
    std::string m_error;
};
