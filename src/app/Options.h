#pragma once
// The recorder's settings as read from the command line, with the defaults applied.

#include "Capture/VideoCaptureControl.h"
#include "CommandLine.h"
#include <handleapi.h>

#include <cstdint>
#include <string>

struct Options {
    static constexpr std::uint32_t DefaultDuration = 10;
    static constexpr const wchar_t* DefaultFile = L"crash-report";

    std::uint32_t pid = 0;
    std::uint32_t duration = DefaultDuration;
    HANDLE saveEvent = nullptr;
    HANDLE cancelEvent = nullptr;
    std::wstring file = DefaultFile;
    bool noVideo = false;
    bool noDesktop = false;
    AudioCaptureMode audio = AudioCaptureMode::System;
    // Empty when no log file was asked for.
    std::wstring logFile;
};

// Throws std::invalid_argument for a value that names nothing.
Options ReadOptions(const ArgumentList& arguments);

// The --audio value of a mode: "system", "application" or "none".
const char* AudioModeName(AudioCaptureMode mode);

void LogStartLine(const Options& options);
