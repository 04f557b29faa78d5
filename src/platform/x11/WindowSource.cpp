#include "WindowSource.h"

#include "CaptureConnection.h"
#include "ChangedRows.h"

#include <xcb/composite.h>
#include <xcb/damage.h>

#include <algorithm>

namespace x11 {

struct WindowSource::State {
    std::unique_ptr<CaptureConnection> connection;
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_damage_damage_t damage = 0;
    xcb_pixmap_t pixmap = XCB_PIXMAP_NONE; // named again after every map or resize
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // The pixmap holds the border too: damage, inside it, lies this far down in the grab.
    std::uint32_t border = 0;
    bool closed = false;
    // What each picture grabbed into missed since; a grab into a picture that kept its content rewrites
    // only that.
    ChangedRows changed;

    ~State() {
        if (!connection)
            return;
        xcb_connection_t* c = connection->Get();
        if (pixmap != XCB_PIXMAP_NONE)
            xcb_free_pixmap(c, pixmap);
        if (!closed) {
            xcb_damage_destroy(c, damage);
            xcb_composite_unredirect_window(c, window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        }
        xcb_flush(c);
    }

    void DropPixmap() {
        if (pixmap != XCB_PIXMAP_NONE)
            xcb_free_pixmap(connection->Get(), pixmap);
        pixmap = XCB_PIXMAP_NONE;
        changed.AddAll();
    }

    // Handles one event; true when it means new content.
    bool Handle(const xcb_generic_event_t& event) {
        const std::uint8_t type = event.response_type & 0x7F;
        if (type == connection->DamageEventBase() + XCB_DAMAGE_NOTIFY) {
            // The bounding box of what changed since the last subtract. What changes before the server
            // subtracts either lies inside it or grows it, which is announced again.
            const auto& notify = reinterpret_cast<const xcb_damage_notify_event_t&>(event);
            const std::int32_t top = std::max<std::int32_t>(0, notify.area.y);
            const std::int32_t bottom = std::int32_t(notify.area.y) + notify.area.height;
            if (bottom > top)
                changed.Add(RowSpan{std::uint32_t(top) + border, std::uint32_t(bottom) + border});
            xcb_damage_subtract(connection->Get(), damage, XCB_NONE, XCB_NONE);
            return true;
        }
        switch (type) {
        case XCB_CONFIGURE_NOTIFY: {
            const auto& configure = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
            if (configure.window == window && (configure.width != width || configure.height != height ||
                                               configure.border_width != border)) {
                width = configure.width;
                height = configure.height;
                border = configure.border_width;
                DropPixmap();
                return true;
            }
            return false;
        }
        case XCB_MAP_NOTIFY:
        case XCB_UNMAP_NOTIFY:
            DropPixmap();
            return type == XCB_MAP_NOTIFY;
        case XCB_DESTROY_NOTIFY:
            closed = true;
            pixmap = XCB_PIXMAP_NONE;
            return false;
        default:
            return false;
        }
    }
};

std::unique_ptr<WindowSource> WindowSource::Open(std::uint32_t window) {
    auto state = std::make_unique<State>();
    state->connection = CaptureConnection::Open();
    if (!state->connection)
        return nullptr;
    xcb_connection_t* c = state->connection->Get();
    state->window = window;

    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    const Reply<xcb_generic_error_t> selectError(
        xcb_request_check(c, xcb_change_window_attributes_checked(c, window, XCB_CW_EVENT_MASK, &mask)));
    const auto geometry = PYX_XCB_REPLY(c, xcb_get_geometry, xcb_get_geometry(c, window));
    if (selectError || !geometry) {
        state->connection.reset();
        return nullptr;
    }
    state->width = geometry->width;
    state->height = geometry->height;
    state->border = geometry->border_width;
    xcb_composite_redirect_window(c, window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    state->damage = xcb_generate_id(c);
    xcb_damage_create(c, state->damage, window, XCB_DAMAGE_REPORT_LEVEL_BOUNDING_BOX);
    xcb_flush(c);
    return std::unique_ptr<WindowSource>(new WindowSource(std::move(state)));
}

WindowSource::WindowSource(std::unique_ptr<State> state) : m_state(std::move(state)) {}

WindowSource::~WindowSource() = default;

std::uint32_t WindowSource::Width() const { return m_state->width; }

std::uint32_t WindowSource::Height() const { return m_state->height; }

void WindowSource::Wake() { m_state->connection->Wake(); }

SourceEvent WindowSource::Wait(int timeoutMs) {
    bool changed = false;
    auto drain = [&] {
        while (auto event = m_state->connection->NextEvent())
            changed = m_state->Handle(*event) || changed;
    };
    drain();
    if (!changed && !m_state->closed) {
        const SourceEvent result = m_state->connection->WaitForEvents(timeoutMs);
        if (result != SourceEvent::Changed)
            return result;
        drain();
    }
    if (m_state->closed)
        return SourceEvent::Closed;
    return changed ? SourceEvent::Changed : SourceEvent::Timeout;
}

GrabResult WindowSource::Grab(const FrameTarget& target, bool withCursor) {
    State& state = *m_state;
    if (state.closed)
        return GrabResult::Failed;
    xcb_connection_t* c = state.connection->Get();
    // The reply follows every event sent before it: each change drawn so far is known before the rows to grab
    // are chosen. What is drawn later is announced and grabbed with the next frame.
    const auto origin =
        PYX_XCB_REPLY(c, xcb_translate_coordinates,
                      xcb_translate_coordinates(c, state.window, state.connection->Root(), 0, 0));
    while (auto event = state.connection->NextEvent())
        state.Handle(*event);
    if (state.closed)
        return GrabResult::Failed;
    if (state.pixmap == XCB_PIXMAP_NONE) {
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        const Reply<xcb_generic_error_t> error(
            xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, state.window, pixmap)));
        if (error)
            return GrabResult::Failed;
        state.pixmap = pixmap;
    }
    const std::uint32_t height = std::min(state.height, target.height);
    RowSpan rows = state.changed.ToRewrite(target.data, target.keptContent);
    rows.bottom = std::min(rows.bottom, height);
    GrabResult result = GrabResult::Written; // nothing changed here: the picture is already current
    if (rows.top == 0 && rows.bottom == height)
        result = state.connection->Grab(state.pixmap, 0, 0, static_cast<std::uint16_t>(state.width),
                                        static_cast<std::uint16_t>(state.height), target);
    else if (!rows.Empty())
        result = state.connection->GrabRows(state.pixmap, 0, 0, static_cast<std::uint16_t>(state.width), rows,
                                            target);
    if (result == GrabResult::Failed) {
        state.changed.Forget(target.data);
        state.DropPixmap();
        return result;
    }
    RowSpan cursorRows;
    if (withCursor && origin)
        cursorRows = state.connection->DrawCursor(origin->dst_x, origin->dst_y, target);
    state.changed.Written(target.data, cursorRows);
    return result;
}

} // namespace x11
