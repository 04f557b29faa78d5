#pragma once
// What a reader of the ring had to leave out because it was damaged.

#include <cstdint>
#include <string>

struct RingDamage {
    // Index entries that do not describe a key frame of their data file.
    uint64_t ignoredIndexEntries = 0;
    // Stretches of a data file skipped to reach the next readable record, and their bytes.
    uint64_t skippedStretches = 0;
    uint64_t skippedBytes = 0;
    // Pictures left out behind key frames whose parameter sets are malformed.
    uint64_t malformedPictures = 0;

    bool Any() const { return ignoredIndexEntries != 0 || skippedStretches != 0 || malformedPictures != 0; }
    // E.g. "2 damaged stretches (4136 bytes) skipped, 1 index entry ignored, 30 pictures with malformed
    // parameter sets left out".
    std::string Describe() const;
};
