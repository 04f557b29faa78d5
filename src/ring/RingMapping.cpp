#include "RingMapping.h"

namespace {

bool IsValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

} // namespace

bool RingMapping::Open(const std::wstring& path) {
    Close();
    m_file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!IsValid(m_file)) {
        m_file = nullptr;
        return false;
    }
    // The size is taken first and the view made exactly that long: a file that grows meanwhile must not
    // make the reader trust bytes beyond the view.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_file, &size) || size.QuadPart < 0) {
        Close();
        return false;
    }
    if (size.QuadPart == 0) {
        return true;
    }
    const auto bytes = static_cast<uint64_t>(size.QuadPart);
    m_mapping = CreateFileMappingW(m_file, nullptr, PAGE_READONLY, static_cast<DWORD>(bytes >> 32),
                                   static_cast<DWORD>(bytes), nullptr);
    if (m_mapping != nullptr) {
        m_view = MapViewOfFile(m_mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(bytes));
    }
    if (m_view == nullptr) {
        // Treating an unreadable file as empty would report a lost recording as an empty one.
        Close();
        return false;
    }
    m_size = bytes;
    return true;
}

void RingMapping::Close() {
    if (m_view != nullptr) {
        UnmapViewOfFile(m_view);
        m_view = nullptr;
    }
    if (m_mapping != nullptr) {
        CloseHandle(m_mapping);
        m_mapping = nullptr;
    }
    if (m_file != nullptr) {
        CloseHandle(m_file);
        m_file = nullptr;
    }
    m_size = 0;
}
