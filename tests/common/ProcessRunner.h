#pragma once
// Runs a program with arguments and environment changes, and collects its exit status and output.

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct ProcessResult {
    int exitStatus = -1; // exit code, or 128 + signal number when killed
    std::string standardOutput;
    std::string standardError;
};

struct ProcessOptions {
    // Variables to set; a nullopt value removes the variable.
    std::map<std::string, std::optional<std::string>> environment;
    std::chrono::milliseconds timeout{60000};
};

ProcessResult RunProcess(const std::vector<std::string>& arguments, const ProcessOptions& options = {});

// The pyx-video binary under test (from PYX_VIDEO_BINARY).
std::string PyxVideoBinary();
