#pragma once
// One entry of a ring index file: where a video key frame's record starts in the segment's data file, and a
// copy of that record's header.

#include "RingPacketHeader.h"

struct RingIndexEntry {
    uint64_t offset;
    RingPacketHeader header;
};

static_assert(sizeof(RingIndexEntry) == 24);
static_assert(std::is_trivially_copyable_v<RingIndexEntry>);
