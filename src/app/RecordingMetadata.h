#pragma once
// NAME.json beside NAME.mp4: the facts a crash reporter needs to line the recording up with its crash dump.
// It holds times, ids and encoder names, never a window title or any other text of the screen.

#include "ring/Export.h"
#include <pyx/CaptureClock.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One moment on both clocks: the capture clock (what the recording's times are measured on) and UTC.
struct MetadataTime {
    std::int64_t monotonicNs = 0;
    std::int64_t utcMs = 0; // milliseconds since 1970-01-01T00:00:00Z
};

// This recorder's version, as `--version` prints it.
const char* RecorderVersion();

// A capture-clock reading with the wall-clock time it corresponds to now.
MetadataTime MetadataTimeOf(pyx::CaptureClock::time_point captureTime);

struct MetadataCapture {
    bool window = true;         // the target's window, else the monitor
    std::uint64_t windowId = 0; // 0 for the monitor
    MetadataTime start;
    MetadataTime end;
};

struct MetadataEncoder {
    std::string name;
    bool hardware = false;
};

struct RecordingMetadata {
    static constexpr int FormatVersion = 1;

    std::string recorderVersion;
    std::uint32_t pid = 0;
    std::string saveReason; // "event", "process exit", "signal" or "export"
    std::optional<MetadataTime> firstPicture;
    std::optional<MetadataTime> lastPicture;
    std::vector<MetadataCapture> captures;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::optional<MetadataEncoder> videoEncoder;
    std::optional<MetadataEncoder> audioEncoder;
    std::uint64_t framesRepeated = 0;
    std::uint64_t framesDropped = 0;
    std::string result; // "saved", "nothing recorded" or "failed"
    std::string error;  // why, when it failed
};

// The result and error that an export's outcome gives the file.
void SetExportResult(const ExportResult& result, RecordingMetadata& metadata);

// The JSON text, keys in a fixed order, ending in a newline.
std::string FormatRecordingMetadata(const RecordingMetadata& metadata);

// Writes NAME.json whole or not at all: a fresh file beside it first, then renamed over it, so a link at the
// path is replaced, never written through. Throws std::runtime_error naming the path when it cannot.
void WriteRecordingMetadata(const std::wstring& name, const RecordingMetadata& metadata);
