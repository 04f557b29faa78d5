#pragma once
// A read-only pass over a ring in playback order: how many packets of each kind it would replay and what its
// first readable video key frame says about the video stream.

#include "KeyFrameProbe.h"

#include <cstddef>
#include <optional>
#include <string>

struct RingSurvey {
    std::size_t videoPackets = 0;
    std::size_t audioPackets = 0;
    // The first key frame whose parameter sets could be read.
    std::optional<KeyFrameInfo> keyFrame;
};

// Empty when the ring files cannot be opened for reading; `error` then says why, with the path.
std::optional<RingSurvey> SurveyRing(const std::wstring& name, std::string& error);
