#pragma once
// The process-wide leveled log. Lines go to the debugger output and, when one is open, to a log file.

#include <atomic>
#include <string>

class Logger {
public:
    enum Level : int { Debug = 0, Info = 1, Warn = 2, Error = 3 };
    using LineHook = void (*)(int level, const char* message);

    static constexpr std::size_t MessageSize = 4096;
    static constexpr std::size_t LineSize = 4160;
    static constexpr std::size_t TimeStampSize = 18;

    Logger();
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // The logger every Log* call goes through; null before registration and after the logger is gone.
    static Logger* Instance() { return s_instance.load(std::memory_order_acquire); }
    static void Register(Logger* logger) { s_instance.store(logger, std::memory_order_release); }

    int MinimumLevel() const { return m_minimumLevel.load(std::memory_order_relaxed); }
    void SetMinimumLevel(int level) { m_minimumLevel.store(level, std::memory_order_relaxed); }

    // Appends every later line to `path` (created 0600, never through a symbolic link). False when it
    // cannot be opened; errno tells why.
    bool OpenFile(const std::string& path);
    bool IsFileOpen() const { return m_file >= 0; }

    void SetLineHook(LineHook hook) { m_lineHook = hook; }
    void SetDebuggerOutput(bool enabled) { m_debuggerOutput = enabled; }

    void WriteLine(int level, const char* message) const;

    static const char* LevelName(int level);

private:
    static std::atomic<Logger*> s_instance;

    std::atomic<int> m_minimumLevel{Debug};
    int m_file = -1;
    LineHook m_lineHook = nullptr;
    bool m_debuggerOutput = true;
};

#define PYX_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))

void LogDebug(const char* format, ...) PYX_PRINTF_FORMAT(1, 2);
void LogInfo(const char* format, ...) PYX_PRINTF_FORMAT(1, 2);
void LogWarn(const char* format, ...) PYX_PRINTF_FORMAT(1, 2);
void LogError(const char* format, ...) PYX_PRINTF_FORMAT(1, 2);
// Formats and prints exactly the text (no time stamp, level or newline), only while the level is DEBUG.
void LogRaw(const char* format, ...) PYX_PRINTF_FORMAT(1, 2);
