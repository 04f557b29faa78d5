#pragma once
// One encoded packet as a media sample: a memory buffer holding a copy of the bytes, time, duration, optional
// attributes and flags.

#include <mfapi.h>
#include <wrl/client.h>

// Null when a step failed; the failing call is logged at ERROR. The attributes, when given, are copied onto
// the sample and left as they are.
ComPtr<IMFSample> CreatePacketSample(const BYTE* pData, DWORD dwSampleSize, LONGLONG llSampleTime,
                                     LONGLONG llSampleDuration, IMFAttributes* pAttributes,
                                     DWORD dwSampleFlags);
