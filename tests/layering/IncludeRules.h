#pragma once
// The layer table and the include check behind it. The table (src/DEPS) names, for each source folder, the
// folders its files may include besides their own, and the system headers only some folders may see
// ("<xcb/" for example): such a prefix may be included only where a folder lists it.

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

struct IncludeRules {
    // Folder (relative to the source root, "platform/mf") to what it may include.
    std::map<std::string, std::set<std::string>> allowed;
    // Every "<prefix" some folder lists: guarded system headers.
    std::set<std::string> guardedPrefixes;
};

// Reads the table; throws std::runtime_error naming the line that cannot be read.
IncludeRules ReadIncludeRules(const std::filesystem::path& table);

struct IncludeViolation {
    std::filesystem::path file;
    int line = 0;
    std::string include;
    std::string reason;
};

// Checks every .h and .cpp under root against the rules. A folder missing from the table is a violation of
// its own: new folders must be placed in the layers before they hold code.
std::vector<IncludeViolation> CheckIncludes(const std::filesystem::path& root, const IncludeRules& rules);
