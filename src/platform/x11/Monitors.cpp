#include "Monitors.h"

#include "Connection.h"

#include <xcb/randr.h>

namespace x11 {

namespace {

std::string AtomName(xcb_connection_t* connection, xcb_atom_t atom) {
    const auto reply = PYX_XCB_REPLY(connection, xcb_get_atom_name, xcb_get_atom_name(connection, atom));
    if (!reply)
        return {};
    return std::string(xcb_get_atom_name_name(reply.get()),
                       static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
}

std::vector<MonitorInfo> RandrMonitors(Connection& connection) {
    std::vector<MonitorInfo> monitors;
    xcb_connection_t* c = connection.Get();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_randr_id);
    if (extension == nullptr || !extension->present)
        return monitors;
    const auto version = PYX_XCB_REPLY(c, xcb_randr_query_version, xcb_randr_query_version(c, 1, 5));
    if (!version || (version->major_version == 1 && version->minor_version < 5))
        return monitors;
    const auto reply =
        PYX_XCB_REPLY(c, xcb_randr_get_monitors, xcb_randr_get_monitors(c, connection.Root(), 1));
    if (!reply)
        return monitors;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* info = it.data;
        if (info->width == 0 || info->height == 0)
            continue;
        MonitorInfo monitor;
        monitor.id = info->name;
        monitor.name = AtomName(c, info->name);
        monitor.x = info->x;
        monitor.y = info->y;
        monitor.width = info->width;
        monitor.height = info->height;
        monitor.primary = info->primary != 0;
        monitors.push_back(std::move(monitor));
    }
    return monitors;
}

} // namespace

std::vector<MonitorInfo> QueryMonitors() {
    const auto connection = SharedConnection();
    if (!connection)
        return {};
    std::vector<MonitorInfo> monitors = RandrMonitors(*connection);
    if (monitors.empty()) {
        const xcb_screen_t* screen = connection->Screen();
        MonitorInfo whole;
        whole.id = screen->root;
        whole.name = "screen";
        whole.width = screen->width_in_pixels;
        whole.height = screen->height_in_pixels;
        whole.primary = true;
        monitors.push_back(std::move(whole));
    }
    return monitors;
}

} // namespace x11
