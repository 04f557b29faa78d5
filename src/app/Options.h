#pragma once
// The recorder's settings as read from the command line, with the defaults applied. Every option is one row
// of the option table, which also gives `--help` its text.

#include "Capture/VideoCaptureControl.h"
#include "CommandLine.h"
#include <handleapi.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

struct Options {
    static constexpr std::uint32_t DefaultDuration = 10;
    // A ring spans at most two durations; beyond this it could reach round the 32-bit 90 kHz timeline, whose
    // times are then no longer ordered.
    static constexpr std::uint32_t MaxDuration = 21600;
    static constexpr const wchar_t* DefaultFile = L"crash-report";

    std::uint32_t pid = 0;
    std::uint32_t duration = DefaultDuration;
    HANDLE saveEvent = nullptr;
    HANDLE cancelEvent = nullptr;
    std::wstring file = DefaultFile;
    bool noVideo = false;
    bool noDesktop = false;
    AudioCaptureMode audio = AudioCaptureMode::System;
    // List the codec library's hardware encoders before the platform's.
    bool customCodecs = false;
    // Empty when no log file was asked for.
    std::wstring logFile;
    bool help = false;
    bool version = false;
};

// What is wrong with the command line, naming the option and the value.
class CommandLineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the arguments after the program path: `--name=value` or `--name value` for the value options, the
// bare name for flags. Throws CommandLineError for an unknown option or argument, a missing value, a flag
// given a value, an option given twice, or a value that is not a whole number in range.
Options ReadOptions(const ArgumentList& arguments);

// The --audio value of a mode: "system", "application" or "none".
const char* AudioModeName(AudioCaptureMode mode);

void LogStartLine(const Options& options);

// Usage: the options, events and signals, the NAME lock and the exit statuses.
void PrintUsage(std::FILE* out);
