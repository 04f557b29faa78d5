#include "LargeBuffers.h"

#include <malloc.h>
#include <mutex>

namespace {

// Anything from this size up is mapped on its own; encoded packets and audio stay well below it.
constexpr int MappedFromBytes = 1 << 20;

} // namespace

void ReturnLargeBuffersToSystem() {
    static std::once_flag once;
    // A fixed threshold also stops glibc from raising it after the first large free, which would move every
    // later frame into the heap, where freed frames fragment and are never returned.
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, MappedFromBytes); });
}
