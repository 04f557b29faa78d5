#include <fileapi.h>

#include "HandleTable.h"
#include "SystemError.h"
#include "ViewRegistry.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

HANDLE FailMapping(DWORD error) {
    SetLastError(error);
    return nullptr;
}

ULONGLONG Combine(DWORD high, DWORD low) { return (static_cast<ULONGLONG>(high) << 32) | low; }

} // namespace

HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCWSTR name) {
    // Only read-only views of real files are offered: no named or memory-backed sections.
    if (name != nullptr || file == INVALID_HANDLE_VALUE)
        return FailMapping(ERROR_NOT_SUPPORTED);
    if (protect != PAGE_READONLY)
        return FailMapping(ERROR_INVALID_PARAMETER);
    const int fd = HandleTable::Instance().Lookup(file, HandleKind::File, true);
    if (fd < 0)
        return nullptr;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    if ((flags & O_ACCMODE) == O_WRONLY)
        return FailMapping(ERROR_ACCESS_DENIED);
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    const auto fileSize = static_cast<ULONGLONG>(status.st_size);
    ULONGLONG size = Combine(maximumSizeHigh, maximumSizeLow);
    if (size == 0) {
        if (fileSize == 0)
            return FailMapping(ERROR_FILE_INVALID);
        size = fileSize;
    } else if (size > fileSize) {
        // A read-only section cannot grow the file.
        return FailMapping(ERROR_NOT_ENOUGH_MEMORY);
    }
    const bool inherit = attributes != nullptr && attributes->bInheritHandle;
    const int mappingFd = ::fcntl(fd, inherit ? F_DUPFD : F_DUPFD_CLOEXEC, 1);
    if (mappingFd < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    const HANDLE mapping = HandleTable::Instance().Register(mappingFd, {HandleKind::Mapping, true, size});
    if (mapping != nullptr)
        SetLastError(ERROR_SUCCESS);
    return mapping;
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD fileOffsetHigh, DWORD fileOffsetLow,
                     SIZE_T bytesToMap) {
    const int fd = HandleTable::Instance().Lookup(mapping, HandleKind::Mapping, false);
    if (fd < 0)
        return nullptr;
    const auto entry = HandleTable::Instance().Find(fd);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // The section is read-only: any other right is refused.
    if (desiredAccess != FILE_MAP_READ) {
        SetLastError(desiredAccess & FILE_MAP_READ ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const ULONGLONG offset = Combine(fileOffsetHigh, fileOffsetLow);
    if (offset % static_cast<ULONGLONG>(::sysconf(_SC_PAGESIZE)) != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    if (offset >= entry->mappingSize || bytesToMap > entry->mappingSize - offset) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const SIZE_T length = bytesToMap != 0 ? bytesToMap : static_cast<SIZE_T>(entry->mappingSize - offset);
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    void* view = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    ViewRegistry::Instance().Add(view, length, {status.st_dev, status.st_ino});
    return view;
}

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
    const auto length = ViewRegistry::Instance().Take(baseAddress);
    if (!length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (::munmap(const_cast<void*>(baseAddress), *length) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}
