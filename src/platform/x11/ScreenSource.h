#pragma once
// One monitor's area of the root window, grabbed through shared memory; changes announced by DAMAGE, changes
// of the monitor layout noticed through RandR. Used from one thread, except Wake().

#include "FrameSource.h"

#include <memory>

namespace x11 {

class ScreenSource final : public FrameSource {
public:
    // Null when the display lacks the capture extensions or the monitor does not exist.
    static std::unique_ptr<ScreenSource> Open(std::uint32_t monitorId);
    ~ScreenSource() override;
    ScreenSource(const ScreenSource&) = delete;
    ScreenSource& operator=(const ScreenSource&) = delete;

    std::uint32_t Width() const override;
    std::uint32_t Height() const override;

    // Changed when anything on the screen changed; LayoutChanged once the monitor moved, resized or went
    // away.
    SourceEvent Wait(int timeoutMs) override;
    void Wake() override;
    // The pointer is not drawn into monitor grabs.
    GrabResult Grab(const FrameTarget& target, bool withCursor) override;

private:
    struct State;
    explicit ScreenSource(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace x11
