#pragma once
// A System V shared-memory segment attached to the X server, kept and reused across grabs; it only grows.

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>

namespace x11 {

class ShmSegment {
public:
    explicit ShmSegment(xcb_connection_t* connection) : m_connection(connection) {}
    ~ShmSegment();
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;

    // Makes the segment hold at least `size` bytes; false when it cannot.
    bool Reserve(std::size_t size);
    xcb_shm_seg_t Id() const { return m_segment; }
    const std::byte* Data() const { return m_data; }

private:
    void Release();

    xcb_connection_t* m_connection;
    xcb_shm_seg_t m_segment = 0;
    std::byte* m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace x11
