#pragma once
// Device contexts and device-dependent bitmaps, kept in memory. The screen is 32 bits per pixel (BGRX).

#include <minwindef.h>

using HWND = struct HWND__*;
using HDC = struct HDC__*;
using HBITMAP = struct HBITMAP__*;
using HGDIOBJ = void*;

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};

// The screen's device context (window null) or a window's; both draw 32-bit pixels.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
// Copies up to `count` bytes of top-down rows into the bitmap; returns the bytes copied, 0 on failure.
LONG SetBitmapBits(HBITMAP bitmap, DWORD count, const void* bits);
LONG GetBitmapBits(HBITMAP bitmap, LONG count, LPVOID bits);
int GetObjectW(HGDIOBJ object, int size, LPVOID buffer);
BOOL DeleteObject(HGDIOBJ object);
