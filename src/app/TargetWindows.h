#pragma once
// The target process's windows: listed in choice order, their titles, and the monitor that holds a window.

#include <winuser.h>

#include <string>
#include <vector>

struct WindowCandidate {
    HWND window = nullptr;
    std::uint32_t pid = 0;
    std::wstring title; // at most 255 characters
};

// The process's top-level windows that are not child windows: the active ones first (the one met last in
// enumeration order at the very front), then the others in enumeration order. Visibility is not considered.
std::vector<WindowCandidate> EnumerateTargetWindows(std::uint32_t pid);

std::wstring GetWindowTitle(HWND window);

// The monitor containing the centre of the window's rectangle; without a window, the one containing (0, 0).
// Null when the point lies on no monitor.
HMONITOR MonitorOfWindow(HWND window);
