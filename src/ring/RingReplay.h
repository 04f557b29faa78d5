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

struct ReplayOutcome {
    // Samples handed to the writer.
    int samples = 0;
    // The span of the pictures written, none when no picture was.
    std::optional<PictureSpan> pictures;
    // Pictures left out from a key frame with malformed parameter sets to the next sound key frame.
    std::uint64_t malformedPictures = 0;
};

// Records older than the first played one (on the wrapping timeline) are skipped, as are records no sample
// could be made of and pictures that follow malformed parameter sets; sound is left out with them while they
// open the recording, so that both streams still start together.
ReplayOutcome ReplayRing(RingFile& ring, SampleWriter& writer);
