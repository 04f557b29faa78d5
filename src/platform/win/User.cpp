#include <winuser.h>

#include "platform/x11/Monitors.h"
#include "platform/x11/WindowQueries.h"
#include <stringapiset.h>

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t WindowId(HWND window) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
}

HMONITOR MonitorHandle(const x11::MonitorInfo& monitor) {
    return reinterpret_cast<HMONITOR>(static_cast<std::uintptr_t>(monitor.id));
}

RECT ToRect(const x11::WindowRect& rect) { return RECT{rect.left, rect.top, rect.right, rect.bottom}; }

RECT MonitorRect(const x11::MonitorInfo& monitor) {
    return RECT{monitor.x, monitor.y, monitor.x + static_cast<LONG>(monitor.width),
                monitor.y + static_cast<LONG>(monitor.height)};
}

bool Contains(const RECT& rect, POINT point) {
    return point.x >= rect.left && point.x < rect.right && point.y >= rect.top && point.y < rect.bottom;
}

long long DistanceSquared(const RECT& rect, POINT point) {
    const long long dx = point.x < rect.left     ? rect.left - point.x
                         : point.x >= rect.right ? point.x - rect.right + 1
                                                 : 0;
    const long long dy = point.y < rect.top       ? rect.top - point.y
                         : point.y >= rect.bottom ? point.y - rect.bottom + 1
                                                  : 0;
    return dx * dx + dy * dy;
}

} // namespace

BOOL EnumWindows(WNDENUMPROC callback, LPARAM parameter) {
    if (callback == nullptr)
        return FALSE;
    for (std::uint32_t window : x11::ListTopLevelWindows())
        if (!callback(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)), parameter))
            return FALSE;
    return TRUE;
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
    const auto pid = x11::WindowProcessId(WindowId(window));
    if (processId != nullptr)
        *processId = pid.value_or(0);
    return pid.value_or(0);
}

BOOL GetWindowInfo(HWND window, PWINDOWINFO info) {
    if (info == nullptr)
        return FALSE;
    const x11::WindowState state = x11::QueryWindowState(WindowId(window));
    if (!state.exists)
        return FALSE;
    const DWORD size = info->cbSize;
    std::memset(info, 0, sizeof(*info));
    info->cbSize = size;
    info->rcWindow = ToRect(state.frame);
    info->rcClient = ToRect(state.client);
    info->dwStyle = (state.applicationWindow ? 0 : WS_CHILD) | (state.viewable ? WS_VISIBLE : 0) |
                    (state.iconic ? WS_MINIMIZE : 0);
    info->dwWindowStatus = state.active ? WS_ACTIVECAPTION : 0;
    info->cxWindowBorders = static_cast<UINT>(state.client.left - state.frame.left);
    info->cyWindowBorders = static_cast<UINT>(state.frame.bottom - state.client.bottom);
    return TRUE;
}

BOOL IsWindowVisible(HWND window) { return x11::IsWindowViewable(WindowId(window)) ? TRUE : FALSE; }

BOOL IsIconic(HWND window) { return x11::IsWindowIconic(WindowId(window)) ? TRUE : FALSE; }

BOOL GetWindowRect(HWND window, LPRECT rect) {
    if (rect == nullptr)
        return FALSE;
    const x11::WindowState state = x11::QueryWindowState(WindowId(window));
    if (!state.exists)
        return FALSE;
    *rect = ToRect(state.frame);
    return TRUE;
}

int GetWindowTextW(HWND window, LPWSTR text, int maxCount) {
    if (text == nullptr || maxCount <= 0)
        return 0;
    const std::wstring title = Utf8ToWide(x11::WindowTitle(WindowId(window)));
    const std::size_t length = std::min(title.size(), static_cast<std::size_t>(maxCount - 1));
    std::copy_n(title.begin(), length, text);
    text[length] = L'\0';
    return static_cast<int>(length);
}

HMONITOR MonitorFromPoint(POINT point, DWORD flags) {
    const auto monitors = x11::QueryMonitors();
    for (const auto& monitor : monitors)
        if (Contains(MonitorRect(monitor), point))
            return MonitorHandle(monitor);
    if (monitors.empty() || flags == MONITOR_DEFAULTTONULL)
        return nullptr;
    if (flags == MONITOR_DEFAULTTOPRIMARY) {
        const auto primary =
            std::find_if(monitors.begin(), monitors.end(), [](const auto& m) { return m.primary; });
        return MonitorHandle(primary != monitors.end() ? *primary : monitors.front());
    }
    const auto nearest =
        std::min_element(monitors.begin(), monitors.end(), [&](const auto& a, const auto& b) {
            return DistanceSquared(MonitorRect(a), point) < DistanceSquared(MonitorRect(b), point);
        });
    return MonitorHandle(*nearest);
}

BOOL GetMonitorInfoW(HMONITOR monitor, LPMONITORINFO info) {
    if (info == nullptr || (info->cbSize != sizeof(MONITORINFO) && info->cbSize != sizeof(MONITORINFOEXW)))
        return FALSE;
    for (const auto& candidate : x11::QueryMonitors()) {
        if (MonitorHandle(candidate) != monitor)
            continue;
        info->rcMonitor = MonitorRect(candidate);
        info->rcWork = info->rcMonitor;
        info->dwFlags = candidate.primary ? MONITORINFOF_PRIMARY : 0;
        if (info->cbSize == sizeof(MONITORINFOEXW)) {
            auto* extended = static_cast<MONITORINFOEXW*>(info);
            const std::wstring name = Utf8ToWide(candidate.name);
            const std::size_t length = std::min(name.size(), CCHDEVICENAME - 1);
            std::copy_n(name.begin(), length, extended->szDevice);
            extended->szDevice[length] = L'\0';
        }
        return TRUE;
    }
    return FALSE;
}
