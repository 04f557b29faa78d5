#include "EntryPoint.h"

#include "CaptureCapability.h"
#include "Options.h"
#include "Util/Logger.h"
#include "platform/win/Strings.h"

#include <cerrno>
#include <cstring>
#include <exception>

namespace {

void OpenLogFile(Logger& logger, const std::wstring& path) {
    if (path.empty())
        return;
    if (!logger.OpenFile(WideToUtf8(path)))
        LogError("unable to open log file: filename(%s), error(%s)", WideToUtf8(path).c_str(),
                 std::strerror(errno));
}

} // namespace

int RunEntryPoint() {
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
        }
        // The recorder's control thread is started here once it exists; until then the run ends after
        // the capability test.
    } catch (const std::exception& e) {
        LogError("error: %s", e.what());
        exitCode = -1;
    }

    Logger::Register(nullptr);
    return exitCode;
}
