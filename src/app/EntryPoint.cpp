#include "EntryPoint.h"

#include "Capture/VideoCapture.h"
#include "CaptureCapability.h"
#include "ExitStatus.h"
#include "Options.h"
#include "Recorder.h"
#include "RecordingMetadata.h"
#include "Util/ErrorText.h"
#include "Util/Logger.h"
#include "platform/files/NameLock.h"
#include "platform/launch/ProcessGuard.h"
#include "platform/signals/SignalEvents.h"
#include "ring/RingPaths.h"
#include <pyx/CaptureAvailability.h>
#include <stringapiset.h>
#include <synchapi.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {

// A log file that cannot be opened is reported and recording goes on without it.
void OpenLogFile(Logger& logger, const std::wstring& path) {
    if (path.empty())
        return;
    const std::string shown = WideToUtf8(path);
    if (logger.OpenFile(shown))
        return;
    std::error_code error(errno, std::generic_category());
    std::error_code statusError;
    const auto status = std::filesystem::symlink_status(shown, statusError);
    const std::string why =
        !statusError && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)
            ? "not a regular file"
            : ErrorText(error);
    LogError("unable to open log file: filename(%s), error(%s)", shown.c_str(), why.c_str());
}

int RefuseCommandLine(const std::string& why) {
    std::fprintf(stderr, "pyx-video: %s\n", why.c_str());
    return ExitBadCommandLine;
}

// The events must be eventfds the starter handed down; anything else would be read, waited on or written
// as if it were one.
void CheckEvent(HANDLE handle, const char* option) {
    if (handle != nullptr && !IsEventDescriptor(handle))
        throw CommandLineError(std::string("'") + option + "' names no inherited eventfd");
}

// An event the command line did not name, created so that the signals always have one to set.
class OwnedEvent {
public:
    explicit OwnedEvent(HANDLE given) : m_handle(given) {
        if (m_handle == nullptr) {
            m_handle = m_owned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (m_handle == nullptr)
                throw std::runtime_error("unable to create an event");
        }
    }
    ~OwnedEvent() {
        if (m_owned != nullptr)
            CloseHandle(m_owned);
    }
    OwnedEvent(const OwnedEvent&) = delete;
    OwnedEvent& operator=(const OwnedEvent&) = delete;

    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle = nullptr;
    HANDLE m_owned = nullptr;
};

int Record(const Options& options, const ChosenCaptureFactory& videoCaptureFactory) {
    const OwnedEvent saveEvent(options.saveEvent);
    const OwnedEvent cancelEvent(options.cancelEvent);
    const SignalEvents signalEvents(saveEvent.Get(), cancelEvent.Get());

    // With application audio the recorded tree is the target's.
    const CaptureChoices choices{{options.audio, options.pid}, options.customCodecs};
    LogInfo("audio: mode(%s)", AudioModeName(options.audio));
    Recorder recorder([&videoCaptureFactory, choices](HMONITOR monitor, HWND window, FrameSize frameSize) {
        return videoCaptureFactory(monitor, window, frameSize, choices);
    });
    recorder.SetSaveSignalQuery([&signalEvents] { return signalEvents.SaveSignalled(); });
    recorder.Start(options.file, options.pid, options.duration, saveEvent.Get(), cancelEvent.Get(),
                   options.noVideo, options.noDesktop);
    recorder.Join();
    recorder.Stop();
    return recorder.Outcome();
}

} // namespace

int RunEntryPoint(const ChosenCaptureFactory& videoCaptureFactory) {
    // Before anything else: a save or cancel signal that comes during start-up waits for its watcher.
    GuardProcessStart();
    // Wide texts in log lines are converted as UTF-8 whatever the environment's locale.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    // X11 reports window and monitor geometry in physical pixels, so there is no DPI scaling to opt out of.
    Logger logger;
    Logger::Register(&logger);

    int exitCode = ExitSaved;
    try {
        Options options;
        try {
            options = ReadOptions(GetArguments());
            CheckEvent(options.saveEvent, "--save-event");
            CheckEvent(options.cancelEvent, "--cancel-event");
        } catch (const CommandLineError& e) {
            Logger::Register(nullptr);
            return RefuseCommandLine(e.what());
        }
        if (options.help || options.version) {
            if (options.help)
                PrintUsage(stdout);
            else
                std::printf("pyx-video %s\n", RecorderVersion());
            Logger::Register(nullptr);
            return ExitSaved;
        }
        OpenLogFile(logger, options.logFile);
        LogStartLine(options);

        std::unique_ptr<NameLock> lock;
        std::string lockError;
        if (!IsBorderlessCaptureSupported()) {
            LogRaw("Borderless capture is not supported by this version of Windows\n");
            LogRaw("%s\n", CaptureUnavailableReason().c_str());
            exitCode = ExitFailure;
        } else if (const NameLock::Result locked =
                       NameLock::Acquire(RingLockPath(options.file).native(), lock, lockError);
                   locked != NameLock::Result::Held) {
            // Another recorder or export owns NAME: its files are left alone.
            LogError("error: %s", lockError.c_str());
            exitCode = locked == NameLock::Result::InUse ? ExitNameInUse : ExitSaveFailed;
        } else {
            exitCode = Record(options, videoCaptureFactory);
        }
    } catch (const std::exception& e) {
        LogError("error: %s", e.what());
        exitCode = ExitFailure;
    }

    Logger::Register(nullptr);
    return exitCode;
}
