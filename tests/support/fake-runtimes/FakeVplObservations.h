#pragma once
// What the fake oneVPL implementation saw of its callers, for tests to compare with what they asked for.

#include <vpl/mfxstructures.h>

struct FakeVplObservations {
    mfxVideoParam encodeInit;  // as MFXVideoENCODE_Init was given them
    mfxVideoParam encodeReset; // as the latest MFXVideoENCODE_Reset was given them
    int encodeResets;
    int framesSubmitted;
    mfxU16 frameTypesAsked[64]; // the encode control's frame type of each submission, in order
    mfxVideoParam decodeInit;
    int bitstreamsDecoded;
    mfxU64 lastTimeStamp; // of the latest bitstream given to decode
    mfxU16 lastDataFlag;
    int misalignedBitstreams; // whose data did not start on 32 bytes
};

// fakeVplObservations(forget): what was seen since the last call that forgot it.
using FakeVplObservationsFunction = FakeVplObservations (*)(bool forget);
