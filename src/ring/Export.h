#pragma once
// Turns the ring named ringName into outputName + ".mp4" without re-encoding, with the encoders' output types
// describing the two streams (either may be null). Every outcome is logged; writer creation failures throw
// ComException.

#include <mfobjects.h>

#include <string>

void Export(const std::wstring& ringName, const std::wstring& outputName, IMFMediaType* videoType,
            IMFMediaType* audioType);
