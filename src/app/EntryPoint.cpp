#include "EntryPoint.h"

#include "Capture/VideoCapture.h"
#include "CaptureCapability.h"
#include "Options.h"
#include "Recorder.h"
#include "Util/Logger.h"
#include "platform/signals/SignalEvents.h"
#include <stringapiset.h>
#include <synchapi.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace {

void OpenLogFile(Logger& logger, const std::wstring& path) {
    if (path.empty())
        return;
    if (!logger.OpenFile(WideToUtf8(path)))
        LogError("unable to open log file: filename(%s), error(%s)", WideToUtf8(path).c_str(),
                 std::strerror(errno));
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

int Record(const Options& options, const VideoCaptureFactory& videoCaptureFactory) {
    const OwnedEvent saveEvent(options.saveEvent);
    const OwnedEvent cancelEvent(options.cancelEvent);
    const SignalEvents signalEvents(saveEvent.Get(), cancelEvent.Get());

    VideoCapture::SetIncludeCustomCodecs(options.customCodecs);
    Recorder recorder(videoCaptureFactory);
    recorder.Start(options.file, options.pid, options.duration, saveEvent.Get(), cancelEvent.Get(),
                   options.noVideo, options.noDesktop);
    recorder.Join();
    recorder.Stop();
    return recorder.Failed() ? -1 : 0;
}

} // namespace

int RunEntryPoint(const VideoCaptureFactory& videoCaptureFactory) {
    // Wide texts in log lines are converted as UTF-8 whatever the environment's locale.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    // X11 reports window and monitor geometry in physical pixels, so there is no DPI scaling to opt out of.
    Logger logger;
    Logger::Register(&logger);

    int exitCode = 0;
    try {
        const Options options = ReadOptions(GetArguments());
        OpenLogFile(logger, options.logFile);
        LogStartLine(options);

        if (!IsBorderlessCaptureSupported()) {
            LogRaw("Borderless capture is not supported by this version of Windows");
            exitCode = -1;
        } else {
            exitCode = Record(options, videoCaptureFactory);
        }
    } catch (const std::exception& e) {
        LogError("error: %s", e.what());
        exitCode = -1;
    }

    Logger::Register(nullptr);
    return exitCode;
}
