#include "IncludeRules.h"

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// Where the Windows-named declarations live; <name> includes that resolve there belong to this folder.
const std::string HeaderFolder = "platform/include";

std::string Trim(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

// The header folder counts as one folder with its subfolders (<wrl/client.h>, <winrt/...>).
std::string Normalised(std::string folder) {
    return folder.rfind(HeaderFolder, 0) == 0 ? HeaderFolder : folder;
}

std::string FolderOf(const fs::path& root, const fs::path& file) {
    return Normalised(fs::relative(file, root).parent_path().generic_string());
}

// The folder an include names, or empty for a system header. Quoted includes resolve next to the file first,
// then from the source root, as the compiler finds them.
std::string IncludedFolder(const fs::path& root, const fs::path& file, const std::string& name, bool quoted) {
    if (quoted) {
        const fs::path local = file.parent_path() / name;
        if (fs::exists(local))
            return FolderOf(root, fs::weakly_canonical(local));
        return Normalised(fs::path(name).lexically_normal().parent_path().generic_string());
    }
    if (fs::exists(root / HeaderFolder / name))
        return HeaderFolder;
    return {};
}

struct Include {
    int line = 0;
    std::string name;
    bool quoted = false;
};

std::vector<Include> ReadIncludes(const fs::path& file) {
    static const std::regex includeLine(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    std::vector<Include> includes;
    std::ifstream in(file);
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        std::smatch match;
        if (std::regex_search(text, match, includeLine))
            includes.push_back({number, match[2], match[1] == "\""});
    }
    return includes;
}

class Checker {
public:
    Checker(fs::path root, const IncludeRules& rules) : m_root(std::move(root)), m_rules(rules) {}

    void Check(const fs::path& file, std::vector<IncludeViolation>& violations) {
        const std::string folder = FolderOf(m_root, file);
        const auto found = m_rules.allowed.find(folder);
        if (found == m_rules.allowed.end()) {
            violations.push_back({file, 0, {}, "folder '" + folder + "' is not in the layer table"});
            return;
        }
        const auto& allowed = found->second;
        for (const Include& include : ReadIncludes(file)) {
            for (const std::string& prefix : GuardedPrefixes(include)) {
                if (allowed.count(prefix) == 0)
                    violations.push_back(
                        {file, include.line, include.name, "'" + folder + "' may not include " + prefix});
            }
            const std::string target = IncludedFolder(m_root, file, include.name, include.quoted);
            if (target.empty() || target == folder)
                continue;
            if (allowed.count(target) == 0) {
                violations.push_back({file, include.line, include.name,
                                      "'" + folder + "' may not include from '" + target + "'"});
                continue;
            }
            // A header of another folder must not hand on system headers this folder may not see.
            const fs::path header = Resolve(file, include);
            for (const std::string& prefix : GuardedReach(header)) {
                if (allowed.count(prefix) == 0)
                    violations.push_back({file, include.line, include.name,
                                          "'" + folder + "' reaches " + prefix + " through this header"});
            }
        }
    }

private:
    // The guarded prefixes ("<xcb/") a system include falls under.
    std::vector<std::string> GuardedPrefixes(const Include& include) const {
        std::vector<std::string> matched;
        for (const std::string& prefix : m_rules.guardedPrefixes) {
            if (!include.quoted && include.name.rfind(prefix.substr(1), 0) == 0)
                matched.push_back(prefix);
        }
        return matched;
    }

    fs::path Resolve(const fs::path& file, const Include& include) const {
        const fs::path local = file.parent_path() / include.name;
        if (include.quoted && fs::exists(local))
            return fs::weakly_canonical(local);
        return fs::weakly_canonical(include.quoted ? m_root / include.name
                                                   : m_root / HeaderFolder / include.name);
    }

    // The guarded prefixes a header includes, directly or through the headers of the tree it includes.
    const std::set<std::string>& GuardedReach(const fs::path& header) {
        if (const auto known = m_reach.find(header); known != m_reach.end())
            return known->second;
        auto& reach = m_reach[header]; // empty while visiting, which ends include cycles
        if (!fs::exists(header))
            return reach;
        std::set<std::string> found;
        for (const Include& include : ReadIncludes(header)) {
            for (const std::string& prefix : GuardedPrefixes(include))
                found.insert(prefix);
            if (!IncludedFolder(m_root, header, include.name, include.quoted).empty()) {
                const auto& nested = GuardedReach(Resolve(header, include));
                found.insert(nested.begin(), nested.end());
            }
        }
        return m_reach[header] = std::move(found);
    }

    fs::path m_root;
    const IncludeRules& m_rules;
    std::map<fs::path, std::set<std::string>> m_reach;
};

} // namespace

IncludeRules ReadIncludeRules(const fs::path& table) {
    std::ifstream in(table);
    if (!in)
        throw std::runtime_error("cannot read the layer table " + table.string());
    IncludeRules rules;
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        text = Trim(text.substr(0, text.find('#')));
        if (text.empty())
            continue;
        const auto colon = text.find(':');
        if (colon == std::string::npos)
            throw std::runtime_error(table.string() + ":" + std::to_string(number) +
                                     ": expected 'folder: ...'");
        auto& allowed = rules.allowed[Trim(text.substr(0, colon))];
        std::istringstream entries(text.substr(colon + 1));
        for (std::string entry; entries >> entry;) {
            allowed.insert(entry);
            if (entry.front() == '<')
                rules.guardedPrefixes.insert(entry);
        }
    }
    return rules;
}

std::vector<IncludeViolation> CheckIncludes(const fs::path& root, const IncludeRules& rules) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const auto extension = entry.path().extension();
        if (entry.is_regular_file() && (extension == ".h" || extension == ".cpp"))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<IncludeViolation> violations;
    Checker checker(fs::canonical(root), rules);
    for (const fs::path& file : files)
        checker.Check(fs::canonical(file), violations);
    return violations;
}
