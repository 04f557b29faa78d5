#pragma once
// One recording: the control thread follows the target's window, starts and restarts captures into the ring,
// reacts to the save and cancel events and to the target's exit, and at the end exports the ring to NAME.mp4.

#include "Capture/VideoCaptureControl.h"
#include "CaptureLog.h"
#include "ExitStatus.h"
#include "RecordingMetadata.h"
#include <handleapi.h>
#include <winuser.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class ImageCapture;
class RingFile;
class ScreenshotKeeper;

class Recorder {
public:
    explicit Recorder(VideoCaptureFactory videoCaptureFactory);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Opens the target and starts the control thread; throws std::system_error when the thread cannot start.
    void Start(const std::wstring& fileName, std::uint32_t pid, std::uint32_t duration, HANDLE saveEvent,
               HANDLE cancelEvent, bool noVideo, bool noDesktop);
    // Tells a save asked for by a signal from one asked for by the save event; called when the save event
    // fires. Set before Start.
    void SetSaveSignalQuery(std::function<bool()> savedBySignal) {
        m_savedBySignal = std::move(savedBySignal);
    }
    void Join();
    // Requests the stop (signalling the cancel event when nobody asked yet) and joins.
    void Stop();

    // How the recording ended, as the process's exit status: saved (or cancelled), save failed or partial
    // (the ring files kept), nothing recorded.
    ExitStatus Outcome() const { return m_outcome; }

private:
    void ControlThread();
    void ControlLoop();
    bool WaitForSignals(DWORD milliseconds);
    void StartCapture();
    void StartCaptureObjects();
    FrameSize RecordingFrameSize() const;
    void StopCapture();
    void StopCaptureObjects();
    void ShutDown();
    ExitStatus SaveRecording(RecordingMetadata& metadata);
    RecordingMetadata NewMetadata() const;
    void WriteMetadata(const RecordingMetadata& metadata) const;
    void KeepOrRemoveRingFiles(bool keep);
    void LogKeptRingFiles() const;
    // Writes the clock notes beside the ring: the stopped captures, and `running` once it wrote something.
    void NoteClock(const CaptureReport& running = {});
    // Notes the running capture's clock once its first packet is written.
    void NoteRunningCapture();
    void FailCapture(const std::string& why);
    // Replaces a capture that cannot go on: at once after a size change, after a pause that grows with each
    // failure in a row, so that a lasting failure does not spin.
    void RestartInterruptedCapture();
    void ScheduleRestart();

    VideoCaptureFactory m_videoCaptureFactory;
    std::wstring m_fileName;
    std::thread m_controlThread;
    std::atomic<bool> m_stopRequested{false};
    bool m_saveRequested = false;
    bool m_videoEnabled = false;
    bool m_desktopEnabled = false;
    HANDLE m_process = nullptr;
    HANDLE m_saveEvent = nullptr;
    HANDLE m_cancelEvent = nullptr;
    std::uint32_t m_pid = 0;
    HWND m_window = nullptr;
    std::uint32_t m_duration = 0;
    std::unique_ptr<RingFile> m_ring;
    std::uint32_t m_timestamp = 0;
    std::unique_ptr<IVideoCapture> m_capture;
    HWND m_capturedWindow = nullptr; // of m_capture; null for the monitor
    CaptureLog m_captureLog;
    bool m_runningCaptureNoted = false;
    std::function<bool()> m_savedBySignal;
    std::string m_saveReason; // for NAME.json
    std::unique_ptr<ImageCapture> m_imageCapture;
    std::unique_ptr<ScreenshotKeeper> m_screenshotKeeper;
    ComPtr<IMFMediaType> m_videoType;
    ComPtr<IMFMediaType> m_audioType;
    std::atomic<bool> m_failed{false};
    bool m_restartPending = false;
    std::chrono::steady_clock::time_point m_restartAt;
    std::chrono::steady_clock::time_point m_captureStartedAt;
    unsigned m_failuresInARow = 0;
    std::atomic<ExitStatus> m_outcome{ExitSaved};
};
