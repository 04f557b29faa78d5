#include "Recorder.h"
#include "ClockNotes.h"

#include "ImageCapture.h"
#include "ScreenshotKeeper.h"
#include "TargetWindows.h"
#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include "ring/Export.h"
#include "ring/RemoveRingFiles.h"
#include "ring/RingFile.h"
#include "ring/RingPaths.h"
#include <mfapi.h>
#include <processthreadsapi.h>
#include <stringapiset.h>
#include <synchapi.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr DWORD ControlWaitMilliseconds = 200;
// How long a capture goes on after a save: the picture on screen when the save came (a crash handler's
// window) passes the encoder's delay into the ring instead of being cut off with the capture.
constexpr DWORD SaveTailMilliseconds = 250;
// The pause before replacing a failed capture doubles with each failure in a row, up to the longest; a
// capture that ran for the reset time before failing starts the count again.
constexpr std::chrono::milliseconds FirstRestartDelay{200};
constexpr std::chrono::milliseconds LongestRestartDelay{5000};
constexpr std::chrono::seconds FailureCountReset{10};
constexpr std::uint32_t KeeperSlots = 1;
constexpr std::uint32_t KeeperInterval = 10;
// A kept copy takes no memory of its own while its frame is unchanged, and a window's frames are grabbed
// into two textures in turn: the keeper that follows every frame lets go of each before the capture writes it
// again, where one that sampled every tenth would hold a picture of its own and copy it six times a second.
constexpr bool KeepEveryFrame = true;

unsigned Low32(const void* handle) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handle)); }

fs::path OutputPath(const std::wstring& name, const wchar_t* suffix) {
    return fs::path(WideToUtf8(name + suffix));
}

} // namespace

Recorder::Recorder(VideoCaptureFactory videoCaptureFactory)
    : m_videoCaptureFactory(std::move(videoCaptureFactory)), m_ring(std::make_unique<RingFile>()) {
    if (Logger* logger = Logger::Instance())
        logger->SetMinimumLevel(Logger::Info);
}

Recorder::~Recorder() {
    Stop();
    m_screenshotKeeper.reset();
    m_imageCapture.reset();
    if (m_capture) {
        m_capture->Stop(nullptr);
        m_capture.reset();
    }
    if (m_ring) {
        m_ring->Close();
        m_ring.reset();
    }
    if (m_process != nullptr)
        CloseHandle(m_process);
}

void Recorder::Start(const std::wstring& fileName, std::uint32_t pid, std::uint32_t duration,
                     HANDLE saveEvent, HANDLE cancelEvent, bool noVideo, bool noDesktop) {
    m_fileName = fileName;
    m_pid = pid;
    m_duration = duration;
    m_saveEvent = saveEvent;
    m_cancelEvent = cancelEvent;
    m_process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    m_videoEnabled = !noVideo;
    m_desktopEnabled = !noDesktop;
    m_controlThread = std::thread(&Recorder::ControlThread, this);
}

void Recorder::Join() {
    if (m_controlThread.joinable())
        m_controlThread.join();
}

void Recorder::Stop() {
    if (!m_stopRequested.exchange(true))
        SetEvent(m_cancelEvent);
    Join();
}

bool Recorder::WaitForSignals(DWORD milliseconds) {
    std::vector<HANDLE> handles{m_process};
    if (m_saveEvent != nullptr) {
        handles.push_back(m_saveEvent);
        handles.push_back(m_cancelEvent);
    }
    switch (WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, milliseconds)) {
    case WAIT_OBJECT_0:
        LogInfo("event: process closed");
        m_saveReason = "process exit";
        m_saveRequested = true;
        m_stopRequested = true;
        return true;
    case WAIT_OBJECT_0 + 1:
        LogInfo("event: save");
        m_saveReason = m_savedBySignal && m_savedBySignal() ? "signal" : "event";
        m_saveRequested = true;
        m_stopRequested = true;
        return true;
    case WAIT_OBJECT_0 + 2:
        LogInfo("event: cancel");
        m_stopRequested = true;
        return true;
    case WAIT_TIMEOUT:
        return false;
    default:
        LogError("error: invalid pid");
        m_outcome = ExitNothingRecorded;
        m_stopRequested = true;
        return true;
    }
}

void Recorder::ControlThread() {
    LogDebug("capture thread started");
    if (m_videoEnabled && !m_ring->OpenForWrite(m_fileName, m_duration)) {
        LogError("unable to open ringfile: filename(%S)", m_fileName.c_str());
        LogError("error: %s", m_ring->OpenError().c_str());
        m_outcome = ExitSaveFailed;
        return;
    }
    // Notes left by an earlier recording of NAME do not describe this ring.
    if (m_videoEnabled)
        NoteClock();
    try {
        ControlLoop();
    } catch (const std::exception& e) {
        LogError("error during capture: %s", e.what());
        FailCapture(e.what());
    }
}

void Recorder::ControlLoop() {
    bool firstStart = true;
    for (;;) {
        if (m_stopRequested) {
            ShutDown();
            return;
        }
        RestartInterruptedCapture();
        if (m_window != nullptr) {
            if (!IsWindowVisible(m_window) || IsIconic(m_window)) {
                const HWND lost = m_window;
                m_window = nullptr;
                LogInfo("lost window: pid(%u), hwnd(%u)", m_pid, Low32(lost));
                StopCapture();
                StartCapture();
            } else {
                WaitForSignals(ControlWaitMilliseconds);
            }
        } else {
            for (const WindowCandidate& candidate : EnumerateTargetWindows(m_pid)) {
                if (IsWindowVisible(candidate.window) && !IsIconic(candidate.window)) {
                    m_window = candidate.window;
                    break;
                }
            }
            if (m_window != nullptr) {
                LogInfo("found window: pid(%u), hwnd(%u)", m_pid, Low32(m_window));
                if (!firstStart)
                    StopCapture();
                StartCapture();
                firstStart = false;
            } else {
                if (firstStart && m_desktopEnabled) {
                    StartCapture();
                    firstStart = false;
                }
                WaitForSignals(ControlWaitMilliseconds);
            }
        }
        // The first pair of output types describes the whole recording for the export.
        if (!m_videoType && m_capture) {
            m_videoType = m_capture->VideoOutputType();
            m_audioType = m_capture->AudioOutputType();
        }
        NoteRunningCapture();
    }
}

void Recorder::NoteRunningCapture() {
    if (!m_capture || m_runningCaptureNoted)
        return;
    const CaptureReport report = m_capture->Report();
    if (!report.anchor)
        return;
    m_runningCaptureNoted = true;
    NoteClock(report);
}

// Notes that cannot be written cost an export of this ring its picture times, not the recording.
void Recorder::NoteClock(const CaptureReport& running) {
    std::string error;
    if (!WriteClockNotes(m_fileName, m_captureLog.Format(m_pid, m_capturedWindow, running), error))
        LogWarn("%s", error.c_str());
}

void Recorder::RestartInterruptedCapture() {
    const CaptureInterruption interruption = m_capture        ? m_capture->Interruption()
                                             : m_imageCapture ? m_imageCapture->Interruption()
                                                              : CaptureInterruption::None;
    if (interruption == CaptureInterruption::SizeChanged) {
        LogInfo("capture size changed: hwnd(%u)", Low32(m_window));
        StopCapture();
        StartCapture();
    } else if (interruption == CaptureInterruption::Failed) {
        if (std::chrono::steady_clock::now() - m_captureStartedAt >= FailureCountReset)
            m_failuresInARow = 0;
        StopCapture();
        ScheduleRestart();
    } else if (m_restartPending && std::chrono::steady_clock::now() >= m_restartAt) {
        StartCapture();
        // A start that failed is tried again later, like a capture that failed.
        if (!m_capture && !m_imageCapture && (m_desktopEnabled || m_window != nullptr))
            ScheduleRestart();
    }
}

void Recorder::ScheduleRestart() {
    const auto delay =
        std::min(LongestRestartDelay, FirstRestartDelay * (1u << std::min(m_failuresInARow, 5u)));
    ++m_failuresInARow;
    LogError("capture failed: hwnd(%u), restart in %ums", Low32(m_window),
             static_cast<unsigned>(delay.count()));
    m_restartPending = true;
    m_restartAt = std::chrono::steady_clock::now() + delay;
}

void Recorder::StartCapture() {
    m_restartPending = false;
    m_captureStartedAt = std::chrono::steady_clock::now();
    try {
        StartCaptureObjects();
    } catch (const std::exception& e) {
        LogError("\terror: unable to start capture: %s", e.what());
    }
    if (Logger* logger = Logger::Instance())
        logger->SetMinimumLevel(Logger::Info);
}

void Recorder::StartCaptureObjects() {
    Logger* logger = Logger::Instance();
    if (!m_videoEnabled) {
        if (m_window == nullptr)
            return;
        LogDebug("image capture start: hwnd(%u)", Low32(m_window));
        if (logger != nullptr)
            logger->SetMinimumLevel(Logger::Error);
        m_imageCapture = std::make_unique<ImageCapture>();
        m_screenshotKeeper = std::make_unique<ScreenshotKeeper>(KeeperSlots, KeeperInterval, KeepEveryFrame);
        m_imageCapture->Start(
            m_window, [keeper = m_screenshotKeeper.get()](ID3D11Device* device, ID3D11Texture2D* texture) {
                keeper->Offer(device, texture);
            });
        return;
    }
    if (!m_desktopEnabled && m_window == nullptr)
        return;

    const HMONITOR monitor = MonitorOfWindow(m_window);
    LogDebug("video capture start: hmon(%u), hwnd(%u), timestamp(%u)", Low32(monitor), Low32(m_window),
             m_timestamp);
    if (logger != nullptr)
        logger->SetMinimumLevel(Logger::Error);
    if (m_capture) {
        m_capture->Stop(nullptr);
        m_capture.reset();
    }
    m_capture = m_videoCaptureFactory(monitor, m_window, RecordingFrameSize());
    m_capturedWindow = m_window;
    if (m_window != nullptr) {
        m_screenshotKeeper = std::make_unique<ScreenshotKeeper>(KeeperSlots, KeeperInterval, KeepEveryFrame);
        m_capture->SetFrameObserver(
            [keeper = m_screenshotKeeper.get()](ID3D11Device* device, ID3D11Texture2D* texture) {
                keeper->Offer(device, texture);
            });
    }
    m_capture->Start(m_ring.get(), m_timestamp);
}

// The size the first capture encoded at; every later one keeps it.
FrameSize Recorder::RecordingFrameSize() const {
    FrameSize size;
    if (m_videoType)
        LogIfFailed(MFGetAttributeSize(m_videoType.Get(), MF_MT_FRAME_SIZE, &size.width, &size.height),
                    "MFGetAttributeSize( m_videoType.Get(), MF_MT_FRAME_SIZE, &width, &height )");
    return size;
}

void Recorder::StopCapture() {
    if (m_capture || m_imageCapture) {
        LogDebug("capture stop: timestamp(%u)", m_timestamp);
        try {
            StopCaptureObjects();
        } catch (const std::exception& e) {
            LogError("\terror: stop capture: %s", e.what()[0] != '\0' ? e.what() : "Unknown exception");
        } catch (...) {
            LogError("\terror: stop capture: %s", "Unknown exception");
        }
    }
    m_imageCapture.reset();
    m_capture.reset();
    m_screenshotKeeper.reset();
}

void Recorder::StopCaptureObjects() {
    // The image is written once the capture has let go of its pictures, buffers and encoder, so that the
    // save's copies do not come on top of them; the kept textures hold the device.
    ComPtr<ID3D11Device> device;
    if (m_imageCapture) {
        m_imageCapture->Stop();
        device = m_imageCapture->Device();
        m_imageCapture.reset();
    }
    if (m_capture) {
        std::uint32_t latestEndTime = 0;
        m_capture->Stop(&latestEndTime);
        m_captureLog.Add(m_capturedWindow, m_capture->Report(), latestEndTime);
        m_runningCaptureNoted = false;
        if (m_videoEnabled)
            NoteClock();
        // A capture that wrote nothing leaves the timeline where the previous one ended.
        if (latestEndTime != 0)
            m_timestamp = latestEndTime;
        device = m_capture->Device();
        m_capture.reset();
    }
    if (m_screenshotKeeper)
        m_screenshotKeeper->Save(device.Get(), m_fileName);
}

void Recorder::ShutDown() {
    // A target that exited has no window left to show.
    if (m_saveRequested && m_capture && m_saveReason != "process exit")
        Sleep(SaveTailMilliseconds);
    StopCapture();
    m_ring->Close();
    if (m_saveRequested && m_videoEnabled) {
        RecordingMetadata metadata = NewMetadata();
        if (m_videoType) {
            m_outcome = SaveRecording(metadata);
        } else {
            LogWarn("nothing to save: no video was recorded");
            m_outcome = ExitNothingRecorded;
            metadata.result = "nothing recorded";
        }
        WriteMetadata(metadata);
    }
    KeepOrRemoveRingFiles(m_outcome == ExitSaveFailed || m_outcome == ExitPartialExport);
    m_videoType.Reset();
    m_audioType.Reset();
    LogDebug("capture thread ended");
}

// Exports the ring into NAME.mp4, and tells `metadata` what the file holds.
ExitStatus Recorder::SaveRecording(RecordingMetadata& metadata) {
    // An older recording's file must not pass for this one if the export fails.
    const fs::path mp4 = OutputPath(m_fileName, L".mp4");
    if (fs::exists(fs::symlink_status(mp4)))
        fs::remove(mp4);
    const ExportResult result = Export(m_fileName, m_fileName, m_videoType.Get(), m_audioType.Get());
    if (result.pictures)
        m_captureLog.Describe(*result.pictures, metadata);
    SetExportResult(result, metadata);
    switch (result.outcome) {
    case ExportResult::Outcome::Written:
        return ExitSaved;
    case ExportResult::Outcome::Partial:
        LogError("error: %s saved without the damaged parts of the ring (%s)", mp4.c_str(),
                 result.damage.Describe().c_str());
        return ExitPartialExport;
    case ExportResult::Outcome::Empty:
        LogWarn("unable to save video file - probably due to limited source frame data");
        return ExitNothingRecorded;
    case ExportResult::Outcome::Failed:
        break;
    }
    LogError("error: unable to save video file: %s", result.failure.c_str());
    return ExitSaveFailed;
}

RecordingMetadata Recorder::NewMetadata() const {
    RecordingMetadata metadata;
    metadata.recorderVersion = RecorderVersion();
    metadata.pid = m_pid;
    metadata.saveReason = m_saveReason;
    const FrameSize size = RecordingFrameSize();
    metadata.width = size.width;
    metadata.height = size.height;
    return metadata;
}

// A metadata file that cannot be written leaves the recording as it is.
void Recorder::WriteMetadata(const RecordingMetadata& metadata) const {
    try {
        WriteRecordingMetadata(m_fileName, metadata);
    } catch (const std::exception& e) {
        LogError("error: %s", e.what());
    }
}

// A failed or partial save keeps a ring that holds packets, so the recording can still be recovered from it.
void Recorder::KeepOrRemoveRingFiles(bool keep) {
    std::uintmax_t ringBytes = 0;
    for (unsigned segment = 0; segment < RingSegmentCount; ++segment) {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(RingDataPath(m_fileName, segment), error);
        ringBytes += error ? 0 : size;
    }
    if (keep && ringBytes > 0)
        LogKeptRingFiles();
    else
        RemoveRingFiles(m_fileName);
}

void Recorder::LogKeptRingFiles() const {
    for (unsigned segment = 0; segment < RingSegmentCount; ++segment)
        for (const fs::path& path : {RingDataPath(m_fileName, segment), RingIndexPath(m_fileName, segment)})
            if (fs::exists(path))
                LogError("ring file kept for recovery: filename(%s)", path.c_str());
}

// After an error the recording cannot go on: stop capturing and keep whatever the ring holds. A save that was
// asked for says why it failed.
void Recorder::FailCapture(const std::string& why) {
    m_outcome = ExitSaveFailed;
    try {
        StopCapture();
        m_ring->Close();
        if (m_videoEnabled)
            LogKeptRingFiles();
    } catch (const std::exception& e) {
        LogError("error during capture: %s", e.what());
    }
    if (m_saveRequested && m_videoEnabled) {
        RecordingMetadata metadata = NewMetadata();
        metadata.result = "failed";
        metadata.error = why;
        WriteMetadata(metadata);
    }
}
