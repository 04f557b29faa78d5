#include "ScreenSource.h"

#include "CaptureConnection.h"
#include "Monitors.h"

#include <xcb/damage.h>
#include <xcb/randr.h>

#include <chrono>

namespace x11 {

namespace {

// How often the monitor layout is compared even when RandR sent nothing.
constexpr std::chrono::milliseconds LayoutCheckInterval{500};

} // namespace

struct ScreenSource::State {
    std::unique_ptr<CaptureConnection> connection;
    MonitorInfo monitor;
    xcb_damage_damage_t damage = 0;
    bool layoutChanged = false;
    std::chrono::steady_clock::time_point lastLayoutCheck = std::chrono::steady_clock::now();

    ~State() {
        if (connection) {
            xcb_damage_destroy(connection->Get(), damage);
            xcb_flush(connection->Get());
        }
    }

    void CheckLayout() {
        lastLayoutCheck = std::chrono::steady_clock::now();
        bool same = false;
        for (const MonitorInfo& current : QueryMonitors())
            if (current.id == monitor.id)
                same = current.x == monitor.x && current.y == monitor.y && current.width == monitor.width &&
                       current.height == monitor.height;
        layoutChanged = layoutChanged || !same;
    }

    // Handles one event; true when it means new content.
    bool Handle(const xcb_generic_event_t& event) {
        const std::uint8_t type = event.response_type & 0x7F;
        if (type == connection->DamageEventBase() + XCB_DAMAGE_NOTIFY) {
            xcb_damage_subtract(connection->Get(), damage, XCB_NONE, XCB_NONE);
            return true;
        }
        const std::uint8_t randr = connection->RandrEventBase();
        if (randr != 0 &&
            (type == randr + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == randr + XCB_RANDR_NOTIFY))
            CheckLayout();
        return false;
    }
};

std::unique_ptr<ScreenSource> ScreenSource::Open(std::uint32_t monitorId) {
    auto state = std::make_unique<State>();
    bool found = false;
    for (const MonitorInfo& monitor : QueryMonitors()) {
        if (monitor.id == monitorId) {
            state->monitor = monitor;
            found = true;
        }
    }
    if (!found)
        return nullptr;
    state->connection = CaptureConnection::Open();
    if (!state->connection)
        return nullptr;
    xcb_connection_t* c = state->connection->Get();
    const xcb_window_t root = state->connection->Root();
    if (state->connection->RandrEventBase() != 0)
        xcb_randr_select_input(c, root,
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    state->damage = xcb_generate_id(c);
    xcb_damage_create(c, state->damage, root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    xcb_flush(c);
    return std::unique_ptr<ScreenSource>(new ScreenSource(std::move(state)));
}

ScreenSource::ScreenSource(std::unique_ptr<State> state) : m_state(std::move(state)) {}

ScreenSource::~ScreenSource() = default;

std::uint32_t ScreenSource::Width() const { return m_state->monitor.width; }

std::uint32_t ScreenSource::Height() const { return m_state->monitor.height; }

void ScreenSource::Wake() { m_state->connection->Wake(); }

SourceEvent ScreenSource::Wait(int timeoutMs) {
    State& state = *m_state;
    bool changed = false;
    auto drain = [&] {
        while (auto event = state.connection->NextEvent())
            changed = state.Handle(*event) || changed;
    };
    drain();
    if (!changed && !state.layoutChanged) {
        const SourceEvent result = state.connection->WaitForEvents(timeoutMs);
        if (result == SourceEvent::Woken || result == SourceEvent::Broken)
            return result;
        drain();
    }
    if (std::chrono::steady_clock::now() - state.lastLayoutCheck >= LayoutCheckInterval)
        state.CheckLayout();
    if (state.layoutChanged)
        return SourceEvent::LayoutChanged;
    return changed ? SourceEvent::Changed : SourceEvent::Timeout;
}

GrabResult ScreenSource::Grab(const FrameTarget& target, bool) {
    const MonitorInfo& monitor = m_state->monitor;
    return m_state->connection->Grab(m_state->connection->Root(), static_cast<std::int16_t>(monitor.x),
                                     static_cast<std::int16_t>(monitor.y),
                                     static_cast<std::uint16_t>(monitor.width),
                                     static_cast<std::uint16_t>(monitor.height), target);
}

} // namespace x11
