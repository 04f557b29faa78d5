#include "RuntimeLibrary.h"

#include <libloaderapi.h>

#include <mutex>

namespace kiv {

namespace {

std::mutex s_mutex;
std::wstring s_searchDirectory;

std::wstring PathOf(const wchar_t* fileName) {
    std::lock_guard lock(s_mutex);
    return s_searchDirectory.empty() ? std::wstring(fileName) : s_searchDirectory + L"/" + fileName;
}

} // namespace

void RuntimeLibrary::setSearchDirectoryForTests(std::wstring directory) {
    std::lock_guard lock(s_mutex);
    s_searchDirectory = std::move(directory);
}

Error RuntimeLibrary::open(const wchar_t* fileName) {
    if (m_module != nullptr)
        return Error::None;
    m_module = LoadLibraryW(PathOf(fileName).c_str());
    return m_module != nullptr ? Error::None : Error::DllNotFound;
}

FARPROC RuntimeLibrary::symbol(const char* exportName) const {
    return m_module != nullptr ? GetProcAddress(m_module, exportName) : nullptr;
}

void RuntimeLibrary::close() {
    if (m_module != nullptr)
        FreeLibrary(m_module);
    m_module = nullptr;
}

} // namespace kiv
