#pragma once
// Where a grab writes: a pitched 32-bit BGRA image (a texture's memory), with the System V shared-memory
// segment that holds it when it lives in one, so the server can write into it directly. A target that still
// holds what the last successful grab of the same source wrote into it says so (keptContent): a source that
// knows what changed since may then rewrite only that.

#include <cstddef>
#include <cstdint>

namespace x11 {

struct FrameTarget {
    std::byte* data = nullptr;
    std::size_t rowPitch = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int sharedMemoryId = -1;
    bool keptContent = false;
};

// Rows [top, bottom) of a target.
struct RowSpan {
    std::uint32_t top = 0;
    std::uint32_t bottom = 0;
    bool Empty() const { return top >= bottom; }
};

// What a grab did. A depth-24 drawable that the server wrote straight into a shared-memory target leaves the
// alpha bytes as they were: the target then owes 255 in each, settled by whoever reads them.
enum class GrabResult {
    Failed,
    Written,
    WrittenWithoutAlpha,
};

enum class SourceEvent {
    Changed,       // new content to grab
    Timeout,       // nothing happened in the time given
    Woken,         // Wake() was called
    Closed,        // the window was destroyed
    LayoutChanged, // the monitor's area changed or the monitor went away
    Broken,        // the display connection failed
};

} // namespace x11
