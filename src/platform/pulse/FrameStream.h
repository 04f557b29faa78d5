#pragma once
// A recording as its reader sees it: whole frames handed to a handler while it runs. A sink's monitor is one.

#include <cstddef>
#include <functional>

namespace pulse {

class FrameStream {
public:
    // Whole frames; a null pointer stands for frames the server could not deliver (a gap).
    using FrameHandler = std::function<void(const void* frames, std::size_t frameCount)>;

    virtual ~FrameStream() = default;

    // Resumes or pauses delivery; false when the request cannot be sent (the stream has failed).
    virtual bool SetRunning(bool running) = 0;
    // True once the stream or its server went away.
    virtual bool IsFailed() const = 0;
};

} // namespace pulse
