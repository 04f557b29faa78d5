#include "ShmSegment.h"

#include "Connection.h"
#include "SharedMemory.h"

#include <sys/ipc.h>
#include <sys/shm.h>

namespace x11 {

ShmSegment::~ShmSegment() { Release(); }

void ShmSegment::Release() {
    if (m_data == nullptr)
        return;
    xcb_shm_detach(m_connection, m_segment);
    xcb_flush(m_connection);
    shmdt(m_data);
    m_data = nullptr;
    m_size = 0;
}

bool ShmSegment::Reserve(std::size_t size) {
    if (size <= m_size)
        return true;
    Release();
    int id = -1;
    std::byte* data = AttachNewSegment(size, id);
    if (data == nullptr)
        return false;
    const xcb_shm_seg_t segment = xcb_generate_id(m_connection);
    const Reply<xcb_generic_error_t> error(xcb_request_check(
        m_connection, xcb_shm_attach_checked(m_connection, segment, static_cast<std::uint32_t>(id), 0)));
    if (error) {
        shmdt(data);
        return false;
    }
    m_segment = segment;
    m_data = data;
    m_size = size;
    return true;
}

} // namespace x11
