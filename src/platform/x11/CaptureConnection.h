#pragma once
// A capture's own X connection: the capture extensions initialised, events waited for with a wake-up
// descriptor beside the connection, and shared-memory grabs into a frame target. Internal to the backend.

#include "Connection.h"
#include "FrameTarget.h"
#include "ShmSegment.h"

#include <memory>
#include <unordered_map>

namespace x11 {

class CaptureConnection {
public:
    // Null when there is no display or it lacks Composite, DAMAGE, MIT-SHM or XFIXES.
    static std::unique_ptr<CaptureConnection> Open();
    ~CaptureConnection();
    CaptureConnection(const CaptureConnection&) = delete;
    CaptureConnection& operator=(const CaptureConnection&) = delete;

    xcb_connection_t* Get() const { return m_connection->Get(); }
    Connection& Base() { return *m_connection; }
    xcb_window_t Root() const { return m_connection->Root(); }
    std::uint8_t DamageEventBase() const { return m_damageEventBase; }
    // 0 when RandR is missing.
    std::uint8_t RandrEventBase() const { return m_randrEventBase; }

    // Waits for X events, a wake-up or the time-out. Woken consumes the wake-up.
    SourceEvent WaitForEvents(int timeoutMs);
    // The next queued event, without waiting (null when none).
    Reply<xcb_generic_event_t> NextEvent();
    // Thread-safe.
    void Wake();

    // Copies `width` × `height` pixels at (x, y) of a 24- or 32-bit drawable into `target`, cut to the
    // target; what the grab does not cover is cleared. Failed when the server refuses (the drawable is gone
    // or unmapped). A target in shared memory whose rows are exactly as wide as the grab is written by the
    // server directly, and depth-24 pixels keep their alpha bytes (WrittenWithoutAlpha); anything else goes
    // through a segment of the connection's own and depth-24 pixels get an opaque alpha on the way.
    GrabResult Grab(xcb_drawable_t drawable, std::int16_t x, std::int16_t y, std::uint16_t width,
                    std::uint16_t height, const FrameTarget& target);
    // Copies only `rows` of such an area into the same rows of `target`, cut to it, and leaves the rest of
    // the target as it is.
    GrabResult GrabRows(xcb_drawable_t drawable, std::int16_t x, std::int16_t y, std::uint16_t width,
                        RowSpan rows, const FrameTarget& target);

    // Draws the pointer over `target`, whose top-left corner is at (originX, originY) on the root window;
    // the rows it drew over.
    RowSpan DrawCursor(std::int32_t originX, std::int32_t originY, const FrameTarget& target);

private:
    CaptureConnection(std::unique_ptr<Connection> connection, int wakeFd);
    // The server's name for the target's segment, attached on first use; 0 when it cannot take the grab.
    xcb_shm_seg_t TargetSegment(const FrameTarget& target, std::uint16_t width);
    // Rows [top, top + height) of the area at (x, y) into the same rows of the target; with `clearRest`,
    // whatever of the target the grab does not cover is cleared.
    GrabResult GrabInto(xcb_drawable_t drawable, std::int16_t x, std::int16_t y, std::uint16_t width,
                        std::uint16_t top, std::uint16_t height, bool clearRest, const FrameTarget& target);

    std::unique_ptr<Connection> m_connection;
    int m_wakeFd;
    ShmSegment m_shm;
    // Segments of targets attached to the server, by System V identifier; 0 where attaching failed. The
    // server lets them go when the connection closes.
    std::unordered_map<int, xcb_shm_seg_t> m_targetSegments;
    std::uint8_t m_damageEventBase = 0;
    std::uint8_t m_randrEventBase = 0;
};

} // namespace x11
