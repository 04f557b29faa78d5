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
#include <unistd.h>

std::atomic<Logger*> Logger::s_instance{nullptr};

namespace {

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

void LogFormatted(int level, const char* format, va_list args) {
    const Logger* logger = Logger::Instance();
    if (logger == nullptr || level < logger->MinimumLevel())
        return;
    char message[Logger::MessageSize];
    std::vsnprintf(message, sizeof(message), format, args);
    logger->WriteLine(level, message);
}

} // namespace

Logger::Logger() = default;

Logger::~Logger() {
    if (Instance() == this)
        Register(nullptr);
    if (m_file >= 0)
        ::close(m_file);
}

bool Logger::OpenFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (m_file >= 0)
        ::close(m_file);
    m_file = fd;
    return true;
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

#define PYX_DEFINE_LOG_FUNCTION(Name, level)                                                                 \
    void Name(const char* format, ...) {                                                                     \
        va_list args;                                                                                        \
        va_start(args, format);                                                                              \
        LogFormatted(level, format, args);                                                                   \
        va_end(args);                                                                                        \
    }

PYX_DEFINE_LOG_FUNCTION(LogDebug, Logger::Debug)
PYX_DEFINE_LOG_FUNCTION(LogInfo, Logger::Info)
PYX_DEFINE_LOG_FUNCTION(LogWarn, Logger::Warn)
PYX_DEFINE_LOG_FUNCTION(LogError, Logger::Error)

void LogRaw(const char* format, ...) {
    const Logger* logger = Logger::Instance();
    if (logger == nullptr || logger->MinimumLevel() > Logger::Debug)
        return;
    char message[Logger::MessageSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    OutputDebugStringA(message);
}
