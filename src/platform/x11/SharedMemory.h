#pragma once
// System V shared memory that the X server can be told to fill.

#include <cstddef>

namespace x11 {

// A new private System V segment of `size` bytes attached here, already marked for removal so that it goes
// with its last attachment, even if this process dies; null when the system refuses one. `id` names it to
// the X server.
std::byte* AttachNewSegment(std::size_t size, int& id);

} // namespace x11
