#include <debugapi.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

void OutputDebugStringA(LPCSTR text) {
    if (text == nullptr)
        return;
    // A single write keeps lines from different threads whole.
    const std::size_t length = std::strlen(text);
    ssize_t written;
    do {
        written = ::write(STDERR_FILENO, text, length);
    } while (written < 0 && errno == EINTR);
}
