#pragma once
// The captures of one recording as the recorder stopped them, with how each one's ring times map to the
// capture clock, so that the metadata file can say when the MP4's pictures were taken and by which capture.

#include "Capture/VideoCaptureControl.h"
#include "RecordingMetadata.h"
#include "ring/RingReplay.h"

#include <cstdint>
#include <vector>

class CaptureLog {
public:
    // A stopped capture of `window` (null: the monitor) whose packets end at `endRingTime`; one that wrote
    // nothing is left out.
    void Add(HWND window, const CaptureReport& report, std::uint32_t endRingTime);

    // Fills the picture times, the captures (clipped to the pictures), the encoders (of the capture of the
    // last picture) and the frame counts of the MP4 whose pictures span `pictures`.
    void Describe(const PictureSpan& pictures, RecordingMetadata& metadata) const;

private:
    struct Entry {
        std::uint64_t windowId = 0; // 0: the monitor
        RingClockAnchor anchor;
        std::uint32_t endRingTime = 0;
        CaptureReport report;
    };

    static MetadataTime TimeOf(const Entry& entry, std::uint32_t ringTime);

    std::vector<Entry> m_entries;
};
