#pragma once
// The benchmark's recording: a 1080p60 H.264 + AAC capture written into a ring the way the recorder writes
// it, plus the same packets as raw elementary stream files (Annex B video, ADTS audio) for ffmpeg.

#include <cstddef>
#include <filesystem>

struct ExportBenchRing {
    std::filesystem::path ring;  // NAME of the ring files
    std::filesystem::path video; // NAME.h264
    std::filesystem::path audio; // NAME.aac
    std::size_t bytes = 0;       // payload bytes in the ring
};

// Writes the files into `folder` (reusing them when a previous run left them there).
ExportBenchRing MakeExportBenchRing(const std::filesystem::path& folder, double seconds);
