#include "WindowQueries.h"

#include "Connection.h"

#include <xcb/res.h>

#include <algorithm>
#include <unordered_set>

namespace x11 {

namespace {

constexpr std::uint32_t IconicState = 3;
// Depth of the search for a client below a window-manager frame.
constexpr int ClientSearchDepth = 3;

xcb_get_property_cookie_t RequestProperty(Connection& connection, xcb_window_t window, const char* name,
                                          xcb_atom_t type, std::uint32_t longLength = 1024) {
    return xcb_get_property(connection.Get(), 0, window, connection.Atom(name), type, 0, longLength);
}

// The 32-bit values of a property reply (empty for a missing property or another format).
std::vector<std::uint32_t> Values32(const Reply<xcb_get_property_reply_t>& reply) {
    if (!reply || reply->format != 32)
        return {};
    const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<std::uint32_t>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

std::vector<std::uint32_t> Property32(Connection& connection, xcb_window_t window, const char* name,
                                      xcb_atom_t type) {
    xcb_connection_t* c = connection.Get();
    return Values32(PYX_XCB_REPLY(c, xcb_get_property, RequestProperty(connection, window, name, type)));
}

std::vector<xcb_window_t> Children(xcb_connection_t* c, xcb_window_t window) {
    const auto tree = PYX_XCB_REPLY(c, xcb_query_tree, xcb_query_tree(c, window));
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    return std::vector<xcb_window_t>(children, children + xcb_query_tree_children_length(tree.get()));
}

// For each window, whether it carries WM_STATE (the mark of a client the window manager knows).
std::vector<bool> HaveWmState(Connection& connection, const std::vector<xcb_window_t>& windows) {
    xcb_connection_t* c = connection.Get();
    const xcb_atom_t wmState = connection.Atom("WM_STATE");
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (xcb_window_t window : windows)
        cookies.push_back(xcb_get_property(c, 0, window, wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 0));
    std::vector<bool> result;
    result.reserve(windows.size());
    for (const auto& cookie : cookies) {
        const auto reply = PYX_XCB_REPLY(c, xcb_get_property, cookie);
        result.push_back(reply && reply->type != XCB_ATOM_NONE);
    }
    return result;
}

// The client window below a frame: the first descendant with WM_STATE, breadth first.
xcb_window_t FindClient(Connection& connection, xcb_window_t frame) {
    std::vector<xcb_window_t> level{frame};
    for (int depth = 0; depth < ClientSearchDepth && !level.empty(); ++depth) {
        std::vector<xcb_window_t> next;
        for (xcb_window_t window : level) {
            const auto children = Children(connection.Get(), window);
            next.insert(next.end(), children.begin(), children.end());
        }
        const auto marked = HaveWmState(connection, next);
        for (std::size_t i = 0; i < next.size(); ++i)
            if (marked[i])
                return next[i];
        level = std::move(next);
    }
    return XCB_WINDOW_NONE;
}

xcb_window_t TopLevelAncestor(xcb_connection_t* c, xcb_window_t root, xcb_window_t window) {
    for (int guard = 0; guard < 64 && window != XCB_WINDOW_NONE && window != root; ++guard) {
        const auto tree = PYX_XCB_REPLY(c, xcb_query_tree, xcb_query_tree(c, window));
        if (!tree)
            return XCB_WINDOW_NONE;
        if (tree->parent == root)
            return window;
        window = tree->parent;
    }
    return XCB_WINDOW_NONE;
}

bool IsActive(Connection& connection, xcb_window_t window) {
    xcb_connection_t* c = connection.Get();
    const auto activeReply =
        PYX_XCB_REPLY(c, xcb_get_property,
                      RequestProperty(connection, connection.Root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW));
    if (activeReply && activeReply->type != XCB_ATOM_NONE) {
        const auto active = Values32(activeReply);
        return !active.empty() && active[0] == window;
    }
    // No window manager says which window is active: the one holding the input focus is.
    const auto focus = PYX_XCB_REPLY(c, xcb_get_input_focus, xcb_get_input_focus(c));
    if (!focus || focus->focus == XCB_WINDOW_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT)
        return false;
    if (focus->focus == window)
        return true;
    const xcb_window_t top = TopLevelAncestor(c, connection.Root(), focus->focus);
    return top == window || (top != XCB_WINDOW_NONE && FindClient(connection, top) == window);
}

bool IsIconic(Connection& connection, xcb_window_t window) {
    const auto wmState = Property32(connection, window, "WM_STATE", connection.Atom("WM_STATE"));
    if (!wmState.empty() && wmState[0] == IconicState)
        return true;
    const auto netState = Property32(connection, window, "_NET_WM_STATE", XCB_ATOM_ATOM);
    const xcb_atom_t hidden = connection.Atom("_NET_WM_STATE_HIDDEN");
    return std::find(netState.begin(), netState.end(), hidden) != netState.end();
}

} // namespace

std::vector<std::uint32_t> ListTopLevelWindows() {
    const auto connection = SharedConnection();
    if (!connection)
        return {};
    xcb_connection_t* c = connection->Get();

    std::vector<std::uint32_t> result =
        Property32(*connection, connection->Root(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW);
    std::reverse(result.begin(), result.end());
    const std::unordered_set<std::uint32_t> managed(result.begin(), result.end());

    std::vector<xcb_window_t> children = Children(c, connection->Root());
    std::reverse(children.begin(), children.end());
    const auto marked = HaveWmState(*connection, children);
    for (std::size_t i = 0; i < children.size(); ++i) {
        xcb_window_t window = children[i];
        if (!marked[i]) {
            const xcb_window_t client = FindClient(*connection, window);
            if (client != XCB_WINDOW_NONE)
                window = client;
        }
        if (managed.count(window) == 0)
            result.push_back(window);
    }
    return result;
}

std::optional<std::uint32_t> WindowProcessId(std::uint32_t window) {
    const auto connection = SharedConnection();
    if (!connection)
        return std::nullopt;
    xcb_connection_t* c = connection->Get();
    // X-Resource answers for any id of a live client, also one whose window is gone.
    if (!PYX_XCB_REPLY(c, xcb_get_window_attributes, xcb_get_window_attributes(c, window)))
        return std::nullopt;

    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_res_id);
    if (extension != nullptr && extension->present) {
        xcb_res_client_id_spec_t spec{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        const auto reply = PYX_XCB_REPLY(c, xcb_res_query_client_ids, xcb_res_query_client_ids(c, 1, &spec));
        if (reply) {
            for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem > 0;
                 xcb_res_client_id_value_next(&it)) {
                if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
                    xcb_res_client_id_value_value_length(it.data) >= 1)
                    return *xcb_res_client_id_value_value(it.data);
            }
        }
    }
    const auto pid = Property32(*connection, window, "_NET_WM_PID", XCB_ATOM_CARDINAL);
    if (!pid.empty())
        return pid[0];
    return std::nullopt;
}

bool IsWindowViewable(std::uint32_t window) {
    const auto connection = SharedConnection();
    if (!connection)
        return false;
    xcb_connection_t* c = connection->Get();
    const auto attributes = PYX_XCB_REPLY(c, xcb_get_window_attributes, xcb_get_window_attributes(c, window));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool IsWindowIconic(std::uint32_t window) {
    const auto connection = SharedConnection();
    return connection && IsIconic(*connection, window);
}

WindowState QueryWindowState(std::uint32_t window) {
    WindowState state;
    const auto connection = SharedConnection();
    if (!connection)
        return state;
    xcb_connection_t* c = connection->Get();

    const auto attributesCookie = xcb_get_window_attributes(c, window);
    const auto geometryCookie = xcb_get_geometry(c, window);
    const auto treeCookie = xcb_query_tree(c, window);
    const auto translateCookie = xcb_translate_coordinates(c, window, connection->Root(), 0, 0);
    const auto attributes = PYX_XCB_REPLY(c, xcb_get_window_attributes, attributesCookie);
    const auto geometry = PYX_XCB_REPLY(c, xcb_get_geometry, geometryCookie);
    const auto tree = PYX_XCB_REPLY(c, xcb_query_tree, treeCookie);
    const auto origin = PYX_XCB_REPLY(c, xcb_translate_coordinates, translateCookie);
    if (!attributes || !geometry || !tree || !origin)
        return state;

    state.exists = true;
    state.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    const bool managed = HaveWmState(*connection, {window})[0];
    state.applicationWindow =
        !attributes->override_redirect && (tree->parent == connection->Root() || managed);
    state.iconic = IsIconic(*connection, window);
    state.active = state.applicationWindow && IsActive(*connection, window);

    state.client.left = origin->dst_x;
    state.client.top = origin->dst_y;
    state.client.right = origin->dst_x + geometry->width;
    state.client.bottom = origin->dst_y + geometry->height;
    state.frame = state.client;
    const auto extents = Property32(*connection, window, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL);
    if (extents.size() == 4) {
        state.frame.left -= static_cast<std::int32_t>(extents[0]);
        state.frame.right += static_cast<std::int32_t>(extents[1]);
        state.frame.top -= static_cast<std::int32_t>(extents[2]);
        state.frame.bottom += static_cast<std::int32_t>(extents[3]);
    }
    return state;
}

std::string WindowTitle(std::uint32_t window) {
    const auto connection = SharedConnection();
    if (!connection)
        return {};
    xcb_connection_t* c = connection->Get();
    const auto utf8Cookie =
        RequestProperty(*connection, window, "_NET_WM_NAME", connection->Atom("UTF8_STRING"));
    const auto latin1Cookie = RequestProperty(*connection, window, "WM_NAME", XCB_ATOM_STRING);
    const auto utf8 = PYX_XCB_REPLY(c, xcb_get_property, utf8Cookie);
    const auto latin1 = PYX_XCB_REPLY(c, xcb_get_property, latin1Cookie);
    auto text = [](const Reply<xcb_get_property_reply_t>& reply) {
        return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                           static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    };
    if (utf8 && utf8->format == 8 && utf8->type != XCB_ATOM_NONE)
        return text(utf8);
    if (!latin1 || latin1->format != 8 || latin1->type == XCB_ATOM_NONE)
        return {};
    std::string converted;
    for (const char ch : text(latin1)) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x80) {
            converted.push_back(ch);
        } else {
            converted.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            converted.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return converted;
}

} // namespace x11
