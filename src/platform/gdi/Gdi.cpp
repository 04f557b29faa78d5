#include "BitmapBits.h"
#include <wingdi.h>

#include <minwindef.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

struct HBITMAP__ {
    int width;
    int height;
    std::vector<std::uint8_t> bits;
};

struct HDC__ {};

namespace {

constexpr int BytesPerPixel = 4;

// Live bitmaps; a handle not in here is refused instead of dereferenced.
std::mutex g_mutex;
std::unordered_map<HBITMAP, std::unique_ptr<HBITMAP__>> g_bitmaps;
HDC__ g_screen;

HBITMAP__* Find(HGDIOBJ object) {
    const auto it = g_bitmaps.find(static_cast<HBITMAP>(object));
    return it == g_bitmaps.end() ? nullptr : it->second.get();
}

} // namespace

HDC GetDC(HWND) { return &g_screen; }

int ReleaseDC(HWND, HDC dc) { return dc == &g_screen ? 1 : 0; }

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (dc != &g_screen || width <= 0 || height <= 0 || width > 65536 || height > 65536) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto bitmap = std::unique_ptr<HBITMAP__>(new (std::nothrow) HBITMAP__{width, height, {}});
    try {
        if (bitmap)
            bitmap->bits.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                                BytesPerPixel);
    } catch (const std::bad_alloc&) {
        bitmap.reset();
    }
    if (!bitmap) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard lock(g_mutex);
    HBITMAP handle = bitmap.get();
    g_bitmaps.emplace(handle, std::move(bitmap));
    return handle;
}

LONG SetBitmapBits(HBITMAP handle, DWORD count, const void* bits) {
    std::lock_guard lock(g_mutex);
    HBITMAP__* bitmap = Find(handle);
    if (bitmap == nullptr || bits == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t copied = std::min<std::size_t>(count, bitmap->bits.size());
    std::memcpy(bitmap->bits.data(), bits, copied);
    return static_cast<LONG>(copied);
}

LONG GetBitmapBits(HBITMAP handle, LONG count, LPVOID bits) {
    std::lock_guard lock(g_mutex);
    HBITMAP__* bitmap = Find(handle);
    if (bitmap == nullptr || bits == nullptr || count < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t copied = std::min<std::size_t>(static_cast<std::size_t>(count), bitmap->bits.size());
    std::memcpy(bits, bitmap->bits.data(), copied);
    return static_cast<LONG>(copied);
}

int GetObjectW(HGDIOBJ object, int size, LPVOID buffer) {
    std::lock_guard lock(g_mutex);
    HBITMAP__* bitmap = Find(object);
    if (bitmap == nullptr)
        return 0;
    if (buffer == nullptr)
        return sizeof(BITMAP);
    if (size < static_cast<int>(sizeof(BITMAP)))
        return 0;
    BITMAP info{};
    info.bmWidth = bitmap->width;
    info.bmHeight = bitmap->height;
    info.bmWidthBytes = bitmap->width * BytesPerPixel;
    info.bmPlanes = 1;
    info.bmBitsPixel = 32;
    std::memcpy(buffer, &info, sizeof(info));
    return sizeof(BITMAP);
}

BOOL DeleteObject(HGDIOBJ object) {
    std::lock_guard lock(g_mutex);
    return g_bitmaps.erase(static_cast<HBITMAP>(object)) == 1 ? TRUE : FALSE;
}

bool gdi::ReadBitmapBits(
    HBITMAP handle,
    const std::function<bool(const std::uint8_t* bits, int width, int height, int stride)>& read) {
    std::lock_guard lock(g_mutex);
    const HBITMAP__* bitmap = Find(handle);
    if (bitmap == nullptr)
        return false;
    return read(bitmap->bits.data(), bitmap->width, bitmap->height, bitmap->width * BytesPerPixel);
}
