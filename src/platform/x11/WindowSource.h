#pragma once
// The content of one window: redirected with Composite (so covered parts are kept), its pixmap grabbed
// through shared memory, changes announced by DAMAGE. Used from one thread, except Wake().

#include "FrameSource.h"

#include <memory>

namespace x11 {

class WindowSource final : public FrameSource {
public:
    // Null when the display lacks the capture extensions or the window does not exist.
    static std::unique_ptr<WindowSource> Open(std::uint32_t window);
    ~WindowSource() override;
    WindowSource(const WindowSource&) = delete;
    WindowSource& operator=(const WindowSource&) = delete;

    std::uint32_t Width() const override;
    std::uint32_t Height() const override;

    // Changed when the content changed (or the window was mapped or resized), Closed once it is destroyed.
    SourceEvent Wait(int timeoutMs) override;
    void Wake() override;
    // Failed while the window cannot be read (unmapped, destroyed).
    GrabResult Grab(const FrameTarget& target, bool withCursor) override;

private:
    struct State;
    explicit WindowSource(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace x11
