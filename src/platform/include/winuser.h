#pragma once
// Windows and monitors: the user-interface services the recorder queries. Window handles are X11 window ids
// and monitor handles RandR monitor names (atoms); both stay valid only while the object exists.

#include <minwindef.h>

#include <cstddef>

struct HWND__;
using HWND = HWND__*;
struct HMONITOR__;
using HMONITOR = HMONITOR__*;
using ATOM = WORD;
using LPARAM = LONG_PTR;
using WNDENUMPROC = BOOL (*)(HWND window, LPARAM parameter);

struct POINT {
    LONG x;
    LONG y;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT*;

constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_ACTIVECAPTION = 0x0001;

struct WINDOWINFO {
    DWORD cbSize;
    RECT rcWindow;
    RECT rcClient;
    DWORD dwStyle;
    DWORD dwExStyle;
    DWORD dwWindowStatus;
    UINT cxWindowBorders;
    UINT cyWindowBorders;
    ATOM atomWindowType;
    WORD wCreatorVersion;
};
using PWINDOWINFO = WINDOWINFO*;
static_assert(sizeof(WINDOWINFO) == 60);

constexpr DWORD MONITOR_DEFAULTTONULL = 0;
constexpr DWORD MONITOR_DEFAULTTOPRIMARY = 1;
constexpr DWORD MONITOR_DEFAULTTONEAREST = 2;
constexpr DWORD MONITORINFOF_PRIMARY = 0x00000001;
constexpr std::size_t CCHDEVICENAME = 32;

struct MONITORINFO {
    DWORD cbSize;
    RECT rcMonitor;
    RECT rcWork;
    DWORD dwFlags;
};
using LPMONITORINFO = MONITORINFO*;

struct MONITORINFOEXW : MONITORINFO {
    WCHAR szDevice[CCHDEVICENAME];
};

// Top-level windows, topmost first; stops when the callback returns FALSE (and then returns FALSE).
BOOL EnumWindows(WNDENUMPROC callback, LPARAM parameter);
// Returns the process id as the thread id (0 for a window that does not exist).
DWORD GetWindowThreadProcessId(HWND window, DWORD* processId);
BOOL GetWindowInfo(HWND window, PWINDOWINFO info);
BOOL IsWindowVisible(HWND window);
BOOL IsIconic(HWND window);
BOOL GetWindowRect(HWND window, LPRECT rect);
int GetWindowTextW(HWND window, LPWSTR text, int maxCount);

HMONITOR MonitorFromPoint(POINT point, DWORD flags);
BOOL GetMonitorInfoW(HMONITOR monitor, LPMONITORINFO info);
