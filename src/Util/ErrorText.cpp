#include "ErrorText.h"

#include <cctype>
#include <cstdio>

namespace {

std::string LowerFirst(std::string text) {
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

std::string Number(HRESULT hr) {
    char text[32];
    std::snprintf(text, sizeof(text), "error 0x%08x", static_cast<unsigned>(hr));
    return text;
}

} // namespace

std::string ErrorText(const std::error_code& error) { return LowerFirst(error.message()); }

std::string Win32ErrorText(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return "no such file";
    case ERROR_PATH_NOT_FOUND:
        return "no such file or directory";
    case ERROR_ACCESS_DENIED:
        return "permission denied";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return "out of memory";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return "file exists";
    case ERROR_DISK_FULL:
        return "no space left on device";
    case ERROR_FILENAME_EXCED_RANGE:
        return "file name too long";
    case ERROR_BAD_FILE_TYPE:
        return "not a regular file";
    case ERROR_CANT_RESOLVE_FILENAME:
        return "is a symbolic link";
    default:
        return Number(HRESULT_FROM_WIN32(error));
    }
}

std::string ErrorText(HRESULT hr) {
    if (hr == E_ACCESSDENIED)
        return "permission denied";
    if (hr == E_OUTOFMEMORY)
        return "out of memory";
    const auto code = static_cast<std::uint32_t>(hr);
    if ((code >> 16) == (0x8000u | FACILITY_WIN32))
        return Win32ErrorText(code & 0xFFFFu);
    return Number(hr);
}
