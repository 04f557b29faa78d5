// Write runs once per encoded packet under the capture's lock: it must not touch the heap. This binary
// replaces the global allocation functions to count what happens between two points.

#include "RingTestSupport.h"

#include <atomic>
#include <new>

namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_allocations{0};

void* Allocate(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    return std::malloc(size == 0 ? 1 : size);
}

// Kept out of line so that the compiler does not pair a new expression with free() and warn.
[[gnu::noinline]] void Release(void* memory) noexcept { std::free(memory); }

} // namespace

void* operator new(std::size_t size) {
    if (void* memory = Allocate(size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { Release(memory); }
void operator delete[](void* memory) noexcept { Release(memory); }
void operator delete(void* memory, std::size_t) noexcept { Release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { Release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { Release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { Release(memory); }

namespace {

TEST(RingFileWrite, APacketBurstWithSegmentSwitchesAllocatesNothing) {
    TempDirectory folder;
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(folder.Wide("ring"), 1));
    const Bytes video(2000, 1);
    const Bytes audio(300, 2);

    // Counts itself: the counter must see an allocation made while counting.
    g_counting = true;
    delete new int(1);
    g_counting = false;
    ASSERT_EQ(g_allocations.exchange(0), 1u);

    int failures = 0;
    g_counting = true;
    for (uint32_t frame = 0; frame < 300; ++frame) {
        const uint32_t flags = frame % 30 == 0 ? VideoKey : VideoDelta;
        failures += ring.Write({frame * 1500, 1500, 2000, flags}, video.data(), 2000);
        failures += ring.Write({frame * 1500 + 700, 1920, 300, Audio}, audio.data(), 300);
    }
    g_counting = false;
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(g_allocations.load(), 0u);
    ring.Close();

    // A switch at every third key frame (135000, 270000, 405000): segment 0 was emptied and rewritten.
    const Bytes first = ReadBytes(folder.Path("ring0"));
    ASSERT_GE(first.size(), sizeof(RingPacketHeader));
    RingPacketHeader header;
    std::memcpy(&header, first.data(), sizeof header);
    EXPECT_EQ(header.timestamp, 270000u);
    EXPECT_FALSE(ReadBytes(folder.Path("ring1")).empty());
}

} // namespace
