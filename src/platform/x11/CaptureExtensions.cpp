#include "CaptureExtensions.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace x11 {

namespace {

bool HasExtension(xcb_connection_t* connection, xcb_extension_t* extension) {
    const xcb_query_extension_reply_t* reply = xcb_get_extension_data(connection, extension);
    return reply != nullptr && reply->present;
}

} // namespace

CaptureExtensions QueryCaptureExtensions() {
    CaptureExtensions result;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) == 0) {
        result.displayOpened = true;
        xcb_prefetch_extension_data(connection, &xcb_composite_id);
        xcb_prefetch_extension_data(connection, &xcb_damage_id);
        xcb_prefetch_extension_data(connection, &xcb_shm_id);
        result.composite = HasExtension(connection, &xcb_composite_id);
        result.damage = HasExtension(connection, &xcb_damage_id);
        result.sharedMemory = HasExtension(connection, &xcb_shm_id);
    }
    xcb_disconnect(connection);
    return result;
}

} // namespace x11
