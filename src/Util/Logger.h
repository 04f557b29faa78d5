#pragma once
// The process-wide leveled log. Lines go to the debugger output and, when one is open, to a log file.
// Threads may log at any time, also while the registered logger goes away: a call either completes through
// the logger or finds none and is dropped.

#include <atomic>
#include <cstdarg>
#include <string>

class Logger {
public:
    enum Level : int { Debug = 0, Info = 1, Warn = 2, Error = 3 };
    using LineHook = void (*)(int level, const char* message);

    static constexpr std::size_t MessageSize = 4096;
    static constexpr std::size_t LineSize = 4160;
    static constexpr std::size_t TimeStampSize = 18;

    Logger();
    // Unregisters the logger, waiting for the calls still writing through it.
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // The logger every Log* call goes through; null before registration and after the logger is gone. For
    // the logger's owner: nothing keeps the returned logger alive.
    static Logger* Instance() { return s_instance.load(std::memory_order_acquire); }
    // Returns once no call writes through the logger registered before.
    static void Register(Logger* logger);

    int MinimumLevel() const { return m_minimumLevel.load(std::memory_order_relaxed); }
    void SetMinimumLevel(int level) { m_minimumLevel.store(level, std::memory_order_relaxed); }

    // Appends every later line to `path` (created 0600, never through a symbolic link, only a regular file).
    // False when it cannot be opened; errno tells why.
    bool OpenFile(const std::string& path);
    bool IsFileOpen() const;

    // The hook takes every line instead of the outputs; it must not log itself.
    void SetLineHook(LineHook hook);
    void SetDebuggerOutput(bool enabled);

    static const char* LevelName(int level);

    // The Log* functions: through the registered logger, if any and if the level passes.
    static void Write(int level, const char* format, va_list args);
    static void WriteRaw(const char* format, va_list args);

private:
    // Under the gate (see the source file), held shared.
    void WriteLine(int level, const char* message) const;

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
