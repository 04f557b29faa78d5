#include "Options.h"

#include "Util/Logger.h"
#include <stringapiset.h>

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace {

constexpr std::array<std::pair<AudioCaptureMode, std::string_view>, 3> AudioModes{{
    {AudioCaptureMode::System, "system"},
    {AudioCaptureMode::Application, "application"},
    {AudioCaptureMode::None, "none"},
}};

// Absent: the whole output, as without the option.
AudioCaptureMode AudioModeOf(const std::wstring& value) {
    if (value.empty())
        return AudioCaptureMode::System;
    const std::string text = WideToUtf8(value);
    for (const auto& [mode, name] : AudioModes)
        if (text == name)
            return mode;
    throw std::invalid_argument("--audio must be system, application or none, not '" + text + "'");
}

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
    options.logFile = GetOptionValue(arguments, L"--log");
    options.audio = AudioModeOf(GetOptionValue(arguments, L"--audio"));

    if (options.file.empty())
        options.file = Options::DefaultFile;
    if (options.duration == 0)
        options.duration = Options::DefaultDuration;
    return options;
}

const char* AudioModeName(AudioCaptureMode mode) {
    for (const auto& [known, name] : AudioModes)
        if (known == mode)
            return name.data();
    return "system";
}

void LogStartLine(const Options& options) {
    LogInfo("pyx-video: pid='%u' duration='%u' %s %s", options.pid, options.duration,
            options.noVideo ? "--no-video" : "", options.noDesktop ? "--no-desktop" : "");
}
