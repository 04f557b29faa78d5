#include "CaptureConnection.h"

#include "PixelCopy.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace x11 {

namespace {

bool Present(xcb_connection_t* c, xcb_extension_t* extension) {
    const xcb_query_extension_reply_t* reply = xcb_get_extension_data(c, extension);
    return reply != nullptr && reply->present;
}

} // namespace

std::unique_ptr<CaptureConnection> CaptureConnection::Open() {
    auto connection = Connection::Open();
    if (!connection)
        return nullptr;
    xcb_connection_t* c = connection->Get();
    for (xcb_extension_t* extension :
         {&xcb_composite_id, &xcb_damage_id, &xcb_shm_id, &xcb_xfixes_id, &xcb_randr_id})
        xcb_prefetch_extension_data(c, extension);
    if (!Present(c, &xcb_composite_id) || !Present(c, &xcb_damage_id) || !Present(c, &xcb_shm_id) ||
        !Present(c, &xcb_xfixes_id))
        return nullptr;
    // Each extension must be told the version this client speaks before its requests work.
    const auto compositeCookie = xcb_composite_query_version(c, 0, 4);
    const auto damageCookie = xcb_damage_query_version(c, 1, 1);
    const auto xfixesCookie = xcb_xfixes_query_version(c, 4, 0);
    const auto shmCookie = xcb_shm_query_version(c);
    const auto composite = PYX_XCB_REPLY(c, xcb_composite_query_version, compositeCookie);
    const auto damage = PYX_XCB_REPLY(c, xcb_damage_query_version, damageCookie);
    const auto xfixes = PYX_XCB_REPLY(c, xcb_xfixes_query_version, xfixesCookie);
    const auto shm = PYX_XCB_REPLY(c, xcb_shm_query_version, shmCookie);
    if (!composite || !damage || !xfixes || !shm)
        return nullptr;
    std::uint8_t randrBase = 0;
    if (Present(c, &xcb_randr_id)) {
        const auto randr = PYX_XCB_REPLY(c, xcb_randr_query_version, xcb_randr_query_version(c, 1, 5));
        if (randr)
            randrBase = xcb_get_extension_data(c, &xcb_randr_id)->first_event;
    }
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0)
        return nullptr;
    std::unique_ptr<CaptureConnection> result(new CaptureConnection(std::move(connection), wakeFd));
    result->m_damageEventBase = xcb_get_extension_data(c, &xcb_damage_id)->first_event;
    result->m_randrEventBase = randrBase;
    return result;
}

CaptureConnection::CaptureConnection(std::unique_ptr<Connection> connection, int wakeFd)
    : m_connection(std::move(connection)), m_wakeFd(wakeFd), m_shm(m_connection->Get()) {}

CaptureConnection::~CaptureConnection() { ::close(m_wakeFd); }

void CaptureConnection::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof(one));
}

Reply<xcb_generic_event_t> CaptureConnection::NextEvent() {
    return Reply<xcb_generic_event_t>(xcb_poll_for_event(Get()));
}

SourceEvent CaptureConnection::WaitForEvents(int timeoutMs) {
    xcb_flush(Get());
    if (m_connection->Broken())
        return SourceEvent::Broken;
    pollfd fds[2] = {{xcb_get_file_descriptor(Get()), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(fds, 2, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return SourceEvent::Broken;
    if ((fds[1].revents & POLLIN) != 0) {
        std::uint64_t count;
        [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &count, sizeof(count));
        return SourceEvent::Woken;
    }
    if ((fds[0].revents & (POLLERR | POLLHUP)) != 0)
        return SourceEvent::Broken;
    return ready == 0 ? SourceEvent::Timeout : SourceEvent::Changed;
}

xcb_shm_seg_t CaptureConnection::TargetSegment(const FrameTarget& target, std::uint16_t width) {
    if (target.sharedMemoryId < 0 || width != target.width || target.rowPitch != std::size_t(width) * 4)
        return 0;
    const auto known = m_targetSegments.find(target.sharedMemoryId);
    if (known != m_targetSegments.end())
        return known->second;
    xcb_connection_t* c = Get();
    xcb_shm_seg_t segment = xcb_generate_id(c);
    const Reply<xcb_generic_error_t> error(xcb_request_check(
        c, xcb_shm_attach_checked(c, segment, static_cast<std::uint32_t>(target.sharedMemoryId), 0)));
    // A server that cannot see this process's segments (another IPC namespace) gets the copying path.
    if (error)
        segment = 0;
    m_targetSegments.emplace(target.sharedMemoryId, segment);
    return segment;
}

GrabResult CaptureConnection::Grab(xcb_drawable_t drawable, std::int16_t x, std::int16_t y,
                                   std::uint16_t width, std::uint16_t height, const FrameTarget& target) {
    height = static_cast<std::uint16_t>(std::min<std::uint32_t>(height, target.height));
    return GrabInto(drawable, x, y, width, 0, height, true, target);
}

GrabResult CaptureConnection::GrabRows(xcb_drawable_t drawable, std::int16_t x, std::int16_t y,
                                       std::uint16_t width, RowSpan rows, const FrameTarget& target) {
    rows.bottom = std::min({rows.bottom, target.height, std::uint32_t(UINT16_MAX)});
    if (rows.Empty())
        return GrabResult::Failed;
    return GrabInto(drawable, x, y, width, static_cast<std::uint16_t>(rows.top),
                    static_cast<std::uint16_t>(rows.bottom - rows.top), false, target);
}

GrabResult CaptureConnection::GrabInto(xcb_drawable_t drawable, std::int16_t x, std::int16_t y,
                                       std::uint16_t width, std::uint16_t top, std::uint16_t height,
                                       bool clearRest, const FrameTarget& target) {
    width = static_cast<std::uint16_t>(std::min<std::uint32_t>(width, target.width));
    if (width == 0 || height == 0)
        return GrabResult::Failed;
    const xcb_shm_seg_t direct = TargetSegment(target, width);
    if (direct == 0 && !m_shm.Reserve(std::size_t(width) * height * 4))
        return GrabResult::Failed;
    xcb_connection_t* c = Get();
    const auto reply =
        PYX_XCB_REPLY(c, xcb_shm_get_image,
                      xcb_shm_get_image(c, drawable, x, static_cast<std::int16_t>(y + top), width, height,
                                        ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, direct != 0 ? direct : m_shm.Id(),
                                        direct != 0 ? static_cast<std::uint32_t>(top * target.rowPitch) : 0));
    if (!reply || (reply->depth != 24 && reply->depth != 32) ||
        reply->size < std::uint32_t(width) * height * 4)
        return GrabResult::Failed;
    const bool withoutAlpha = reply->depth == 24;
    // The target's rows the grab wrote, as a target of their own.
    FrameTarget band = target;
    band.data += top * target.rowPitch;
    band.height = height;
    if (direct != 0) {
        // In place: only what the grab did not cover is cleared. The alpha is left to whoever reads it, as
        // most frames are only ever converted to YUV.
        if (clearRest)
            CopyPixels(target.data, target.rowPitch, width, height, false, target);
        return withoutAlpha ? GrabResult::WrittenWithoutAlpha : GrabResult::Written;
    }
    CopyPixels(m_shm.Data(), std::size_t(width) * 4, width, height, withoutAlpha, clearRest ? target : band);
    return GrabResult::Written;
}

RowSpan CaptureConnection::DrawCursor(std::int32_t originX, std::int32_t originY, const FrameTarget& target) {
    xcb_connection_t* c = Get();
    const auto cursor = PYX_XCB_REPLY(c, xcb_xfixes_get_cursor_image, xcb_xfixes_get_cursor_image(c));
    if (!cursor)
        return {};
    const std::int64_t top = std::int64_t(cursor->y) - cursor->yhot - originY;
    BlendCursor(xcb_xfixes_get_cursor_image_cursor_image(cursor.get()), cursor->width, cursor->height,
                cursor->x - cursor->xhot - originX, static_cast<std::int32_t>(top), target);
    return RowSpan{
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(top, 0, target.height)),
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(top + cursor->height, 0, target.height))};
}

} // namespace x11
