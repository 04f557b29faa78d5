#include <winrt/Windows.Graphics.Capture.h>

#include "HandlerList.h"
#include "platform/x11/Monitors.h"
#include "platform/x11/WindowQueries.h"
#include <stringapiset.h>

struct GraphicsCaptureItem::State {
    bool window = false;
    std::uint32_t id = 0;
    SizeInt32 size;
    std::wstring name;
    HandlerList<const GraphicsCaptureItem&> closedHandlers;
    std::atomic<bool> closed{false};
};

SizeInt32 GraphicsCaptureItem::Size() const { return m_state ? m_state->size : SizeInt32{}; }

std::wstring GraphicsCaptureItem::DisplayName() const { return m_state ? m_state->name : std::wstring(); }

EventToken GraphicsCaptureItem::Closed(std::function<void(const GraphicsCaptureItem&)> handler) const {
    return m_state ? m_state->closedHandlers.Add(std::move(handler)) : EventToken{};
}

void GraphicsCaptureItem::Closed(EventToken token) const {
    if (m_state)
        m_state->closedHandlers.Remove(token);
}

bool GraphicsCaptureItem::IsWindow() const { return m_state && m_state->window; }

std::uint32_t GraphicsCaptureItem::TargetId() const { return m_state ? m_state->id : 0; }

void GraphicsCaptureItem::NotifyClosed() const {
    if (m_state && !m_state->closed.exchange(true))
        m_state->closedHandlers.Invoke(*this);
}

HRESULT GraphicsCaptureItemInterop::CreateForWindow(HWND window, GraphicsCaptureItem* item) const {
    if (item == nullptr)
        return E_POINTER;
    *item = nullptr;
    const auto id = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
    const x11::WindowState state = x11::QueryWindowState(id);
    if (window == nullptr || !state.exists)
        return E_INVALIDARG;
    auto created = std::make_shared<GraphicsCaptureItem::State>();
    created->window = true;
    created->id = id;
    created->size = SizeInt32{state.client.right - state.client.left, state.client.bottom - state.client.top};
    created->name = Utf8ToWide(x11::WindowTitle(id));
    *item = GraphicsCaptureItem(std::move(created));
    return S_OK;
}

HRESULT GraphicsCaptureItemInterop::CreateForMonitor(HMONITOR monitor, GraphicsCaptureItem* item) const {
    if (item == nullptr)
        return E_POINTER;
    *item = nullptr;
    const auto id = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(monitor));
    for (const x11::MonitorInfo& info : x11::QueryMonitors()) {
        if (monitor == nullptr || info.id != id)
            continue;
        auto created = std::make_shared<GraphicsCaptureItem::State>();
        created->id = id;
        created->size =
            SizeInt32{static_cast<std::int32_t>(info.width), static_cast<std::int32_t>(info.height)};
        created->name = Utf8ToWide(info.name);
        *item = GraphicsCaptureItem(std::move(created));
        return S_OK;
    }
    return E_INVALIDARG;
}
