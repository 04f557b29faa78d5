#include "SharedMemory.h"

#include <sys/ipc.h>
#include <sys/shm.h>

namespace x11 {

std::byte* AttachNewSegment(std::size_t size, int& id) {
    id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0)
        return nullptr;
    void* data = shmat(id, nullptr, 0);
    shmctl(id, IPC_RMID, nullptr);
    if (data == reinterpret_cast<void*>(-1)) {
        id = -1;
        return nullptr;
    }
    return static_cast<std::byte*>(data);
}

} // namespace x11
