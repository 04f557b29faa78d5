#pragma once
// The sample an encoder transform hands out: a copy of one coded picture's bytes.

#include <mfobjects.h>

#include <cstdint>

namespace kiv::mfcodec {

// A sample holding a copy of `size` bytes, with the input's time and duration, marked as a clean point for a
// key frame, and with the frame and stream numbers where they were known (0 to 0xFFFFFFFE).
HRESULT WrapEncodedPacket(const void* bytes, DWORD size, LONGLONG time, LONGLONG duration, bool keyFrame,
                          std::int64_t streamNum, std::int64_t frameNum, IMFSample** sample);

} // namespace kiv::mfcodec
