#include "ShmSegment.h"

#include "Connection.h"

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
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0)
        return false;
    void* data = shmat(id, nullptr, 0);
    if (data == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const xcb_shm_seg_t segment = xcb_generate_id(m_connection);
    const Reply<xcb_generic_error_t> error(xcb_request_check(
        m_connection, xcb_shm_attach_checked(m_connection, segment, static_cast<std::uint32_t>(id), 0)));
    // Marked for removal at once: it goes away with its last attachment, even if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        shmdt(data);
        return false;
    }
    m_segment = segment;
    m_data = static_cast<std::byte*>(data);
    m_size = size;
    return true;
}

} // namespace x11
