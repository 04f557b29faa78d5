#include "TargetWindows.h"

#include <vector>

namespace {

constexpr int TitleCapacity = 256;

BOOL CollectWindow(HWND window, LPARAM parameter) {
    reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    return TRUE;
}

} // namespace

std::wstring GetWindowTitle(HWND window) {
    std::wstring title(TitleCapacity, L'\0');
    const int length = GetWindowTextW(window, title.data(), TitleCapacity);
    title.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return title;
}

std::vector<WindowCandidate> EnumerateTargetWindows(std::uint32_t pid) {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));

    std::vector<WindowCandidate> candidates;
    for (HWND window : windows) {
        DWORD windowPid = 0;
        GetWindowThreadProcessId(window, &windowPid);
        if (windowPid != pid)
            continue;
        WINDOWINFO info{};
        info.cbSize = sizeof(info);
        GetWindowInfo(window, &info);
        if ((info.dwStyle & WS_CHILD) != 0)
            continue;
        WindowCandidate candidate{window, windowPid, GetWindowTitle(window)};
        if ((info.dwWindowStatus & WS_ACTIVECAPTION) != 0)
            candidates.insert(candidates.begin(), std::move(candidate));
        else
            candidates.push_back(std::move(candidate));
    }
    return candidates;
}

HMONITOR MonitorOfWindow(HWND window) {
    POINT point{0, 0};
    RECT rect{};
    if (window != nullptr && GetWindowRect(window, &rect))
        point = POINT{rect.left + (rect.right - rect.left) / 2, rect.top + (rect.bottom - rect.top) / 2};
    return MonitorFromPoint(point, MONITOR_DEFAULTTONULL);
}
