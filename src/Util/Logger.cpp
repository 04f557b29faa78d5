#include "Logger.h"

#include <debugapi.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <locale.h>
#include <mutex>
#include <shared_mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

std::atomic<Logger*> Logger::s_instance{nullptr};

namespace {

// Held shared by every call that writes through a logger, exclusively to register one or change how it
// writes. A writer closes the turnstile before it waits, so threads logging without pause cannot keep a
// logger from going away; a line hook must therefore not log.
class GateLock {
public:
    void lock() {
        m_turnstile.lock();
        m_lock.lock();
    }
    void unlock() {
        m_lock.unlock();
        m_turnstile.unlock();
    }
    void lock_shared() {
        std::lock_guard pass(m_turnstile);
        m_lock.lock_shared();
    }
    void unlock_shared() { m_lock.unlock_shared(); }

private:
    std::mutex m_turnstile;
    std::shared_mutex m_lock;
};

// Never destroyed: threads may still log while static objects go at exit.
GateLock& Gate() {
    static auto* const gate = new GateLock;
    return *gate;
}

// The time stamp is always in the C locale's "%x %X" form, which fits the 18-byte buffer.
locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

void FormatTimeStamp(char (&buffer)[Logger::TimeStampSize]) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    if (strftime_l(buffer, sizeof(buffer), "%x %X", &local, CLocale()) == 0)
        buffer[0] = '\0';
}

void WriteAll(int fd, const char* text, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, text, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

} // namespace

Logger::Logger() = default;

Logger::~Logger() {
    {
        std::unique_lock gate(Gate());
        if (Instance() == this)
            s_instance.store(nullptr, std::memory_order_release);
    }
    if (m_file >= 0)
        ::close(m_file);
}

void Logger::Register(Logger* logger) {
    std::unique_lock gate(Gate());
    s_instance.store(logger, std::memory_order_release);
}

bool Logger::OpenFile(const std::string& path) {
    // Non-blocking, so a FIFO at the path cannot hang the start; only a regular file takes the lines.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return false;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        errno = EINVAL;
        return false;
    }
    int previous = -1;
    {
        std::unique_lock gate(Gate());
        previous = std::exchange(m_file, fd);
    }
    if (previous >= 0)
        ::close(previous);
    return true;
}

bool Logger::IsFileOpen() const {
    std::shared_lock gate(Gate());
    return m_file >= 0;
}

void Logger::SetLineHook(LineHook hook) {
    std::unique_lock gate(Gate());
    m_lineHook = hook;
}

void Logger::SetDebuggerOutput(bool enabled) {
    std::unique_lock gate(Gate());
    m_debuggerOutput = enabled;
}

const char* Logger::LevelName(int level) {
    switch (level) {
    case Debug:
        return "DEBUG";
    case Info:
        return "INFO";
    case Warn:
        return "WARN";
    case Error:
        return "ERROR";
    default:
        return "";
    }
}

void Logger::WriteLine(int level, const char* message) const {
    if (level < MinimumLevel())
        return;
    if (m_lineHook != nullptr) {
        m_lineHook(level, message);
        return;
    }
    if (m_file < 0 && !m_debuggerOutput)
        return;

    char timeStamp[TimeStampSize];
    FormatTimeStamp(timeStamp);
    char line[LineSize];
    const int length =
        std::snprintf(line, sizeof(line), "%s %-8s %s\n", timeStamp, LevelName(level), message);
    if (length < 0)
        return;
    const std::size_t lineLength = std::min<std::size_t>(static_cast<std::size_t>(length), sizeof(line) - 1);

    // One write per line, so lines from several threads never interleave; O_APPEND makes it the flush.
    if (m_file >= 0)
        WriteAll(m_file, line, lineLength);
    if (m_debuggerOutput)
        OutputDebugStringA(line);
}

void Logger::Write(int level, const char* format, va_list args) {
    std::shared_lock gate(Gate());
    const Logger* logger = Instance();
    if (logger == nullptr || level < logger->MinimumLevel())
        return;
    char message[MessageSize];
    std::vsnprintf(message, sizeof(message), format, args);
    logger->WriteLine(level, message);
}

void Logger::WriteRaw(const char* format, va_list args) {
    std::shared_lock gate(Gate());
    const Logger* logger = Instance();
    if (logger == nullptr || logger->MinimumLevel() > Debug)
        return;
    char message[MessageSize];
    std::vsnprintf(message, sizeof(message), format, args);
    OutputDebugStringA(message);
}

#define PYX_DEFINE_LOG_FUNCTION(Name, level)                                                                 \
    void Name(const char* format, ...) {                                                                     \
        va_list args;                                                                                        \
        va_start(args, format);                                                                              \
        Logger::Write(level, format, args);                                                                  \
        va_end(args);                                                                                        \
    }

PYX_DEFINE_LOG_FUNCTION(LogDebug, Logger::Debug)
PYX_DEFINE_LOG_FUNCTION(LogInfo, Logger::Info)
PYX_DEFINE_LOG_FUNCTION(LogWarn, Logger::Warn)
PYX_DEFINE_LOG_FUNCTION(LogError, Logger::Error)

void LogRaw(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Logger::WriteRaw(format, args);
    va_end(args);
}
