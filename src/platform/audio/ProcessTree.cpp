#include "ProcessTree.h"

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace {

// Deeper than any real process tree; ends the walk should the table change under it.
constexpr int MaximumDepth = 4096;

// The parent of a running process, from /proc/PID/stat ("PID (NAME) STATE PPID ..."; NAME may hold anything).
std::optional<DWORD> ParentOf(DWORD processId) {
    std::ifstream file("/proc/" + std::to_string(processId) + "/stat");
    std::string line;
    if (!std::getline(file, line))
        return std::nullopt;
    const std::size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos)
        return std::nullopt;
    std::istringstream fields(line.substr(nameEnd + 1));
    std::string state;
    DWORD parent = 0;
    if (!(fields >> state >> parent))
        return std::nullopt;
    return parent;
}

} // namespace

bool IsInProcessTree(DWORD processId, DWORD root) {
    if (root == 0)
        return false;
    DWORD current = processId;
    for (int depth = 0; depth < MaximumDepth && current != 0; ++depth) {
        if (current == root)
            return true;
        const std::optional<DWORD> parent = ParentOf(current);
        if (!parent)
            return false;
        current = *parent;
    }
    return false;
}
