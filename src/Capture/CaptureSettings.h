#pragma once
// What a capture source is told at construction.

#include <d3d11.h>
#include <winuser.h>

#include <cstdint>
#include <functional>

// Receives each delivered frame: the texture, its time and duration in 100-ns units. The texture is valid
// only during the call.
using FrameCallback = std::function<void(ID3D11Texture2D* texture, std::int64_t time, std::int64_t duration)>;
// Told the new size on a resolution change, or the current size when the capture ends by itself.
using SizeChangeCallback = std::function<void(std::int32_t width, std::int32_t height)>;

struct CaptureSettings {
    FrameCallback frameCallback;
    SizeChangeCallback sizeChangeCallback;
    HMONITOR hmon = nullptr;
    HWND hwnd = nullptr;
    std::int32_t frameRate = 60;
    std::uint8_t hideCursor = 0;
    std::uint8_t noBorder = 0;
};
