#pragma once
// The monitors of the X display (RandR 1.5 monitors; the whole screen when RandR offers none).

#include <cstdint>
#include <string>
#include <vector>

namespace x11 {

struct MonitorInfo {
    std::uint32_t id = 0; // stable while the monitor exists: its name atom, or the root window
    std::string name;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool primary = false;
};

// Empty when no display is available.
std::vector<MonitorInfo> QueryMonitors();

} // namespace x11
