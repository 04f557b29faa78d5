#pragma once
// The command line of pyx-demo-target.

#include <cstdint>
#include <string>
#include <vector>

struct DemoOptions {
    std::uint16_t width = 640;
    std::uint16_t height = 360;
    double fps = 60;
    double toneHz = 0;        // 0: no sound stream at all
    double iconifyEvery = 0;  // seconds; 0: never
    double iconifiedFor = 1;  // seconds
    std::uint64_t frames = 0; // 0: until SIGTERM or SIGINT
    bool still = false;       // one frame, then nothing changes
    // After the first frame only the number squares and this area at the top-left are drawn; 0: all.
    std::uint16_t changingWidth = 0;
    std::uint16_t changingHeight = 0;
    bool help = false;
};

extern const char* const kDemoSynopsis;
extern const char* const kDemoHelp; // what each option does, after the synopsis

// Parses the arguments after the program name. Returns an empty string on success, else what is wrong.
std::string ParseDemoOptions(const std::vector<std::string>& args, DemoOptions* options);
