#pragma once
// Plays a ring opened for reading into a sample writer: every record from the first one on becomes a sample
// whose time is measured from that first record, with its duration and key-frame mark.

#include "RingFile.h"
#include "SampleWriter.h"

// Records older than the first played one (on the wrapping timeline) are skipped, as are records no sample
// could be made of; returns the number of samples handed to the writer.
int ReplayRing(RingFile& ring, SampleWriter& writer);
