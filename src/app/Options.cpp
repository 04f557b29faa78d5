#include "Options.h"

#include "Util/Logger.h"

namespace {

HANDLE HandleFromValue(std::uint64_t value) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
}

} // namespace

Options ReadOptions(const ArgumentList& arguments) {
    Options options;
    options.pid = static_cast<std::uint32_t>(WideToUnsigned(GetOptionValue(arguments, L"--pid"), 10));
    options.duration =
        static_cast<std::uint32_t>(WideToUnsigned(GetOptionValue(arguments, L"--duration"), 10));
    options.saveEvent = HandleFromValue(WideToUnsigned(GetOptionValue(arguments, L"--save-event"), 16));
    options.cancelEvent = HandleFromValue(WideToUnsigned(GetOptionValue(arguments, L"--cancel-event"), 16));
    options.file = GetOptionValue(arguments, L"--file");
    options.noVideo = HasFlag(arguments, L"--no-video");
    options.noDesktop = HasFlag(arguments, L"--no-desktop");
    options.customCodecs = HasFlag(arguments, L"--custom-codecs");
    options.logFile = GetOptionValue(arguments, L"--log");

    if (options.file.empty())
        options.file = Options::DefaultFile;
    if (options.duration == 0)
        options.duration = Options::DefaultDuration;
    return options;
}

void LogStartLine(const Options& options) {
    LogInfo("pyx-video: pid='%u' duration='%u' %s %s", options.pid, options.duration,
            options.noVideo ? "--no-video" : "", options.noDesktop ? "--no-desktop" : "");
}
