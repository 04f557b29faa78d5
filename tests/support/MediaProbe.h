#pragma once
// What ffprobe and ffmpeg (Debian's binaries) say about a media file.

#include "TestPattern.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

struct CommandResult {
    int exitCode = -1;
    std::string output; // standard output
};

// Runs the program with the arguments (no shell), standard error passed through.
CommandResult RunCommand(const std::vector<std::string>& arguments);

// One [STREAM] section of ffprobe with packet counting: codec_type, codec_name, width, height, r_frame_rate,
// sample_rate, channels, start_time, duration, nb_read_packets.
using ProbedStream = std::map<std::string, std::string>;

// Empty when ffprobe does not accept the file.
std::vector<ProbedStream> ProbeStreams(const std::filesystem::path& file);

struct ProbedPacket {
    double time = 0;
    double duration = 0;
    bool keyFrame = false;
};

// The packets of the first stream of a kind ("v" or "a") in file order.
std::vector<ProbedPacket> ProbePackets(const std::filesystem::path& file, const std::string& kind);

// Byte offset of the first top-level box of a type ("moov", "mdat"), or -1.
long long FindTopLevelBox(const std::filesystem::path& file, const std::string& type);

// Decodes the video and returns the frames whose number is a multiple of `every`, as 4:2:0 planes.
std::vector<YuvFrame> DecodeEveryNthFrame(const std::filesystem::path& file, int width, int height,
                                          int every);
