#include "ClockNotes.h"

#include "Util/ErrorText.h"
#include "ring/FreshFile.h"
#include "ring/RingPaths.h"
#include <fileapi.h>
#include <handleapi.h>

namespace {

// Far more than a recording's captures take; a larger file is not the recorder's.
constexpr LONGLONG MaxNotesBytes = 1 << 20;

} // namespace

bool WriteClockNotes(const std::wstring& name, const std::string& text, std::string& error) {
    return WriteWholeFile(RingClockPath(name), ".clk", text, error);
}

std::optional<std::string> ReadClockNotes(const std::wstring& name, std::string& error) {
    const std::filesystem::path path = RingClockPath(name);
    const HANDLE file = CreateFileW(RingPathToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) {
        const DWORD lastError = GetLastError();
        if (lastError != ERROR_FILE_NOT_FOUND && lastError != ERROR_PATH_NOT_FOUND)
            error = "unable to read " + path.string() + ": " + Win32ErrorText(lastError);
        return std::nullopt;
    }
    std::string text;
    LARGE_INTEGER size{};
    DWORD read = 0;
    bool readable = GetFileSizeEx(file, &size) && size.QuadPart <= MaxNotesBytes;
    if (readable) {
        text.resize(static_cast<std::size_t>(size.QuadPart));
        readable = ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr) &&
                   read == text.size();
    }
    CloseHandle(file);
    if (!readable) {
        error = "unable to read " + path.string();
        return std::nullopt;
    }
    return text;
}
