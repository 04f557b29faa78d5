#pragma once
// The recorder's settings as read from the command line, with the defaults applied.

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
    // List the codec library's hardware encoders before the platform's.
    bool customCodecs = false;
    // Empty when no log file was asked for.
    std::wstring logFile;
};

Options ReadOptions(const ArgumentList& arguments);

void LogStartLine(const Options& options);
