#pragma once
// Window facts from the X display, for the Windows-named window services. A window that does not exist (or
// no display at all) gives empty answers, never an error.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace x11 {

struct WindowRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

struct WindowState {
    bool exists = false;
    bool viewable = false;          // mapped, and all its ancestors mapped
    bool iconic = false;            // WM_STATE Iconic or _NET_WM_STATE_HIDDEN
    bool applicationWindow = false; // a top-level or a managed client, not override-redirect
    bool active = false;            // _NET_ACTIVE_WINDOW, else the holder of the input focus
    WindowRect frame;               // with the window manager's decorations (_NET_FRAME_EXTENTS)
    WindowRect client;              // the window itself, in root coordinates
};

// Top-level client windows, topmost first: the managed clients (_NET_CLIENT_LIST_STACKING), then the
// unmanaged children of the root (unmapped, override-redirect), with window-manager frames replaced by their
// clients.
std::vector<std::uint32_t> ListTopLevelWindows();

// X-Resource client pid, else _NET_WM_PID.
std::optional<std::uint32_t> WindowProcessId(std::uint32_t window);

WindowState QueryWindowState(std::uint32_t window);
bool IsWindowViewable(std::uint32_t window);
bool IsWindowIconic(std::uint32_t window);

// _NET_WM_NAME, else WM_NAME (Latin-1); UTF-8.
std::string WindowTitle(std::uint32_t window);

} // namespace x11
