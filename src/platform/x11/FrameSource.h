#pragma once
// What a capture reads frames from: one window or one monitor, each announcing its changes. Used from one
// thread, except Wake().

#include "FrameTarget.h"

#include <cstdint>

namespace x11 {

class FrameSource {
public:
    virtual ~FrameSource() = default;

    virtual std::uint32_t Width() const = 0;
    virtual std::uint32_t Height() const = 0;

    // Waits up to the timeout for something to happen; Woken once Wake() was called.
    virtual SourceEvent Wait(int timeoutMs) = 0;
    virtual void Wake() = 0;
    // Failed while the content cannot be read. Sources that cannot draw the pointer ignore withCursor.
    virtual GrabResult Grab(const FrameTarget& target, bool withCursor) = 0;
};

} // namespace x11
