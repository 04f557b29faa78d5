#pragma once
// The captures of one recording as the recorder stopped them, with how each one's ring times map to the
// capture clock, so that the metadata file can say when the MP4's pictures were taken and by which capture.
// The recorder also keeps it beside the ring as text (the clock notes), so that an export of a ring whose
// recorder never saved can say the same.

#include "Capture/VideoCaptureControl.h"
#include "RecordingMetadata.h"
#include "ring/RingReplay.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CaptureLog {
public:
    // A stopped capture of `window` (null: the monitor) whose packets end at `endRingTime`; one that wrote
    // nothing is left out.
    void Add(HWND window, const CaptureReport& report, std::uint32_t endRingTime);

    // Fills the picture times, the captures (clipped to the pictures), the encoders (of the capture of the
    // last picture) and the frame counts of the MP4 whose pictures span `pictures`.
    void Describe(const PictureSpan& pictures, RecordingMetadata& metadata) const;

    // The clock notes: the recorder's pid, then one line per capture, the last one `running` (none while the
    // recorder has no capture that wrote anything), whose end is not known yet.
    std::string Format(std::uint32_t pid, HWND runningWindow, const CaptureReport& running) const;
    // Reads the clock notes back; false when the text is not theirs.
    static bool Parse(const std::string& text, CaptureLog& log, std::uint32_t& pid);

private:
    struct Entry {
        std::uint64_t windowId = 0; // 0: the monitor
        RingClockAnchor anchor;
        std::int64_t anchorUtcMs = 0;
        std::optional<std::uint32_t> endRingTime; // none: it ran on past the last picture
        CaptureReport report;
    };

    static Entry MakeEntry(HWND window, const CaptureReport& report, std::optional<std::uint32_t> end);
    static std::string FormatEntry(const Entry& entry);
    static MetadataTime TimeOf(const Entry& entry, std::uint32_t ringTime);

    std::vector<Entry> m_entries;
};
