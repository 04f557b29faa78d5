#pragma once
// What a capture records: one window or one monitor. A reference type: copies share one item.

#include "CaptureTypes.h"
#include "HandlerList.h"
#include "platform/win/User.h"

#include <atomic>
#include <memory>
#include <string>

class GraphicsCaptureItem {
public:
    GraphicsCaptureItem() = default;
    GraphicsCaptureItem(std::nullptr_t) {}
    explicit operator bool() const { return m_state != nullptr; }

    SizeInt32 Size() const;
    std::wstring DisplayName() const;
    // Called once, on a capture thread, when the window is destroyed while a capture of it runs.
    EventToken Closed(std::function<void(const GraphicsCaptureItem& sender)> handler) const;
    void Closed(EventToken token) const;

    // The target, for the capture that reads it.
    bool IsWindow() const;
    std::uint32_t TargetId() const;
    void NotifyClosed() const;

private:
    friend class GraphicsCaptureItemInterop;
    struct State {
        bool window = false;
        std::uint32_t id = 0;
        SizeInt32 size;
        std::wstring name;
        HandlerList<const GraphicsCaptureItem&> closedHandlers;
        std::atomic<bool> closed{false};
    };
    explicit GraphicsCaptureItem(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    std::shared_ptr<State> m_state;
};

class GraphicsCaptureItemInterop {
public:
    // E_INVALIDARG (item cleared) for a window or monitor that does not exist.
    HRESULT CreateForWindow(HWND window, GraphicsCaptureItem* item) const;
    HRESULT CreateForMonitor(HMONITOR monitor, GraphicsCaptureItem* item) const;
};
