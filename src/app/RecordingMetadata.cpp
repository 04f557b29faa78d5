#include "RecordingMetadata.h"

#include "ring/FreshFile.h"
#include <stringapiset.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#ifndef PYX_VERSION
#define PYX_VERSION "unknown"
#endif

namespace {

// The two clocks are read back to back; the UTC time of a capture-clock reading is its distance from then.
std::int64_t UtcMsOf(pyx::CaptureClock::time_point captureTime) {
    const auto captureNow = pyx::CaptureClock::now();
    const auto utcNow = std::chrono::system_clock::now();
    const auto utc =
        utcNow - std::chrono::duration_cast<std::chrono::system_clock::duration>(captureNow - captureTime);
    return std::chrono::floor<std::chrono::milliseconds>(utc.time_since_epoch()).count();
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// ISO 8601 in UTC with milliseconds: 2026-12-09T12:40:55.123Z.
std::string Iso8601(std::int64_t utcMs) {
    const std::time_t seconds = static_cast<std::time_t>(utcMs >= 0 ? utcMs / 1000 : (utcMs - 999) / 1000);
    const int milliseconds = static_cast<int>(utcMs - std::int64_t(seconds) * 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, milliseconds);
    return text;
}

std::string Time(const std::optional<MetadataTime>& time) {
    if (!time)
        return "null";
    return "{\"utc\": " + Quoted(Iso8601(time->utcMs)) +
           ", \"monotonic_ns\": " + std::to_string(time->monotonicNs) + "}";
}

std::string Encoder(const std::optional<MetadataEncoder>& encoder) {
    if (!encoder)
        return "null";
    return "{\"name\": " + Quoted(encoder->name) +
           ", \"hardware\": " + (encoder->hardware ? "true" : "false") + "}";
}

} // namespace

const char* RecorderVersion() { return PYX_VERSION; }

MetadataTime MetadataTimeOf(pyx::CaptureClock::time_point captureTime) {
    return {captureTime.time_since_epoch().count(), UtcMsOf(captureTime)};
}

void SetExportResult(const ExportResult& result, RecordingMetadata& metadata) {
    switch (result.outcome) {
    case ExportResult::Outcome::Written:
        metadata.result = "saved";
        return;
    case ExportResult::Outcome::Partial:
        // An older file that the partial export did not replace is not this recording.
        metadata.result = result.failure.empty() ? "saved" : "failed";
        metadata.error = "damaged records skipped: " + result.damage.Describe() +
                         (result.failure.empty() ? "" : "; " + result.failure);
        return;
    case ExportResult::Outcome::Empty:
        metadata.result = "nothing recorded";
        return;
    case ExportResult::Outcome::Failed:
        metadata.result = "failed";
        metadata.error = result.failure;
        return;
    }
}

std::string FormatRecordingMetadata(const RecordingMetadata& metadata) {
    std::string captures;
    for (const MetadataCapture& capture : metadata.captures) {
        captures += captures.empty() ? "\n" : ",\n";
        captures += "    {\"kind\": " + Quoted(capture.window ? "window" : "monitor") +
                    ", \"window_id\": " + std::to_string(capture.windowId) +
                    ", \"start\": " + Time(capture.start) + ", \"end\": " + Time(capture.end) + "}";
    }
    if (!captures.empty())
        captures += "\n  ";
    return "{\n"
           "  \"format_version\": " +
           std::to_string(RecordingMetadata::FormatVersion) +
           ",\n"
           "  \"recorder_version\": " +
           Quoted(metadata.recorderVersion) +
           ",\n"
           "  \"pid\": " +
           std::to_string(metadata.pid) +
           ",\n"
           "  \"save_reason\": " +
           Quoted(metadata.saveReason) +
           ",\n"
           "  \"first_picture\": " +
           Time(metadata.firstPicture) +
           ",\n"
           "  \"last_picture\": " +
           Time(metadata.lastPicture) +
           ",\n"
           "  \"captures\": [" +
           captures +
           "],\n"
           "  \"frame_size\": {\"width\": " +
           std::to_string(metadata.width) + ", \"height\": " + std::to_string(metadata.height) +
           "},\n"
           "  \"video_encoder\": " +
           Encoder(metadata.videoEncoder) +
           ",\n"
           "  \"audio_encoder\": " +
           Encoder(metadata.audioEncoder) +
           ",\n"
           "  \"frames_repeated\": " +
           std::to_string(metadata.framesRepeated) +
           ",\n"
           "  \"frames_dropped\": " +
           std::to_string(metadata.framesDropped) +
           ",\n"
           "  \"result\": " +
           Quoted(metadata.result) +
           ",\n"
           "  \"error\": " +
           (metadata.error.empty() ? "null" : Quoted(metadata.error)) + "\n}\n";
}

void WriteRecordingMetadata(const std::wstring& name, const RecordingMetadata& metadata) {
    std::string error;
    if (!WriteWholeFile(WideToUtf8(name + L".json"), ".json", FormatRecordingMetadata(metadata), error))
        throw std::runtime_error(error);
}
