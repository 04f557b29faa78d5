#pragma once
// Plays a ring opened for reading into a sample writer: every record from the first one on becomes a sample
// whose time is measured from that first record, with its duration and key-frame mark.

#include "RingFile.h"
#include "SampleWriter.h"

#include <cstdint>
#include <optional>

// The ring times (90 kHz ticks) of the first and the last picture handed to the writer.
struct PictureSpan {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
};

// Records older than the first played one (on the wrapping timeline) are skipped, as are records no sample
// could be made of; returns the number of samples handed to the writer. `pictures` (may be null) receives
// the span of the pictures written, none when no picture was.
int ReplayRing(RingFile& ring, SampleWriter& writer, std::optional<PictureSpan>* pictures = nullptr);
