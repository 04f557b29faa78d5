#pragma once
// The pixels of a live bitmap, read in place: images are written from them without a copy of their own.

#include <wingdi.h>

#include <cstdint>
#include <functional>

namespace gdi {

// Calls `read` with the bitmap's top-down BGRA rows while the bitmap cannot be deleted; false, without
// calling it, for a handle that is no bitmap. Returns what `read` returns otherwise.
bool ReadBitmapBits(
    HBITMAP handle,
    const std::function<bool(const std::uint8_t* bits, int width, int height, int stride)>& read);

} // namespace gdi
