#pragma once
// A whole file mapped read-only. An empty file has no view and size 0.

#include <fileapi.h>

#include <cstdint>
#include <string>

class RingMapping {
public:
    RingMapping() = default;
    ~RingMapping() { Close(); }
    RingMapping(const RingMapping&) = delete;
    RingMapping& operator=(const RingMapping&) = delete;

    // False when the file cannot be opened, or is not empty and cannot be mapped.
    bool Open(const std::wstring& path);
    void Close();

    const uint8_t* Data() const { return static_cast<const uint8_t*>(m_view); }
    uint64_t Size() const { return m_size; }

private:
    LPVOID m_view = nullptr;
    HANDLE m_file = nullptr;
    HANDLE m_mapping = nullptr;
    uint64_t m_size = 0;
};
