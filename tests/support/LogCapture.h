#pragma once
// Registers a process logger whose lines are kept as "LEVEL message" instead of being printed.

#include "Util/Logger.h"

#include <algorithm>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

class LogCapture {
public:
    LogCapture() {
        s_lines().clear();
        m_logger.SetLineHook(&Keep);
        Logger::Register(&m_logger);
    }
    ~LogCapture() { Logger::Register(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> Lines() const {
        std::lock_guard lock(s_mutex());
        return s_lines();
    }
    bool Contains(const std::string& line) const {
        const auto lines = Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    // Whether some line matches the regular expression as a whole.
    bool Matches(const std::string& pattern) const {
        const std::regex expression(pattern);
        const auto lines = Lines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return std::regex_match(line, expression); });
    }
    std::size_t Count(const std::string& level) const {
        const auto lines = Lines();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.rfind(level + " ", 0) == 0; });
    }

private:
    static void Keep(int level, const char* message) {
        std::lock_guard lock(s_mutex());
        s_lines().push_back(std::string(Logger::LevelName(level)) + " " + message);
    }
    static std::vector<std::string>& s_lines() {
        static std::vector<std::string> lines;
        return lines;
    }
    static std::mutex& s_mutex() {
        static std::mutex mutex;
        return mutex;
    }

    Logger m_logger;
};
