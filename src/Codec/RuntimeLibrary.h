#pragma once
// Loading of a vendor runtime library on demand, shared by every vendor binding: the library is found under
// its Linux name by the system's search rules, and each entry point of the binding's table is resolved by
// its export name. A loaded runtime stays loaded for the life of the process.

#include <minwindef.h>

#include <string>

namespace kiv {

// The result of a binding's load_(), one numbering for every vendor.
enum class Error : int {
    None = 0,
    Unexpected = 1,
    DllNotFound = 3,
    EntryPointNotFound = 4,
    InitFailed = 5,
    VersionTooOld = 6,
};

class RuntimeLibrary {
public:
    RuntimeLibrary() = default;
    RuntimeLibrary(const RuntimeLibrary&) = delete;
    RuntimeLibrary& operator=(const RuntimeLibrary&) = delete;
    ~RuntimeLibrary() = default; // a runtime is never unloaded behind its callers

    // Error::DllNotFound when the library cannot be loaded; None when it is (or already was).
    Error open(const wchar_t* fileName);
    // The entry point, or null when the library does not export it.
    FARPROC symbol(const char* exportName) const;
    // Unloads after a failed binding, so that a later load tries again.
    void close();
    bool isOpen() const { return m_module != nullptr; }

    // For tests only: look for runtimes in `directory` instead of the system's places (empty: the system's
    // again), so that fake runtimes are loaded through this very code.
    static void setSearchDirectoryForTests(std::wstring directory);

private:
    HMODULE m_module = nullptr;
};

} // namespace kiv
