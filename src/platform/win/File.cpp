#include <fileapi.h>

#include "HandleTable.h"
#include "SystemError.h"
#include "ViewRegistry.h"
#include <stringapiset.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t CreatedFileMode = 0600;

int OpenAccessMode(DWORD desiredAccess) {
    const bool read = (desiredAccess & GENERIC_READ) != 0;
    const bool write = (desiredAccess & GENERIC_WRITE) != 0;
    return read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
}

int OpenRetrying(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags, CreatedFileMode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Creates the file, or opens it when it exists (existed tells which). A file removed between the two
// attempts is created on the next round.
int CreateOrOpen(const std::string& path, int flags, bool& existed) {
    for (;;) {
        int fd = OpenRetrying(path, flags | O_CREAT | O_EXCL);
        if (fd >= 0 || errno != EEXIST) {
            existed = false;
            return fd;
        }
        fd = OpenRetrying(path, flags);
        if (fd >= 0 || errno != ENOENT) {
            existed = true;
            return fd;
        }
    }
}

// A missing file in an existing folder is ERROR_FILE_NOT_FOUND; a missing folder is ERROR_PATH_NOT_FOUND.
DWORD MissingFileError(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat status {};
    if (::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

int FileDescriptor(HANDLE file) { return HandleTable::Instance().Lookup(file, HandleKind::File, true); }

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL FailOnDescriptor(int fd) {
    SetLastErrorFromDescriptorErrno(fd, errno);
    return FALSE;
}

} // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = WideToUtf8(fileName);
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // Linux has no share modes; handles never leak into child processes. A FIFO or device at the path must
    // not block the open: it is refused below, as only regular files are files here.
    const int flags = OpenAccessMode(desiredAccess) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    bool existed = false;
    int fd = -1;
    switch (creationDisposition) {
    case CREATE_NEW:
        fd = OpenRetrying(path, flags | O_CREAT | O_EXCL);
        break;
    case CREATE_ALWAYS:
        fd = CreateOrOpen(path, flags | O_TRUNC, existed);
        break;
    case OPEN_EXISTING:
        fd = OpenRetrying(path, flags);
        break;
    case OPEN_ALWAYS:
        fd = CreateOrOpen(path, flags, existed);
        break;
    case TRUNCATE_EXISTING:
        if ((desiredAccess & GENERIC_WRITE) == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        fd = OpenRetrying(path, flags | O_TRUNC);
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (fd < 0) {
        const int error = errno;
        // A FIFO without a reader refuses a non-blocking writer.
        SetLastError(error == ENOENT  ? MissingFileError(path)
                     : error == ENXIO ? ERROR_BAD_FILE_TYPE
                                      : Win32ErrorFromErrno(error));
        return INVALID_HANDLE_VALUE;
    }
    // Folders open read-only on Linux, but they are not files; nor are FIFOs, sockets or devices.
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        SetLastError(S_ISDIR(status.st_mode) ? ERROR_ACCESS_DENIED : ERROR_BAD_FILE_TYPE);
        return INVALID_HANDLE_VALUE;
    }
    // A replaced file gets new content, so it becomes as private as a new one.
    if (creationDisposition == CREATE_ALWAYS && existed && (status.st_mode & 07777) != CreatedFileMode &&
        ::fchmod(fd, CreatedFileMode) != 0) {
        const int error = errno;
        ::close(fd);
        SetLastError(Win32ErrorFromErrno(error));
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle = HandleTable::Instance().Register(fd, {HandleKind::File});
    if (handle == nullptr)
        return INVALID_HANDLE_VALUE;
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, DWORD* bytesWritten, OVERLAPPED* overlapped) {
    if (bytesWritten != nullptr)
        *bytesWritten = 0;
    const int fd = FileDescriptor(file);
    if (fd < 0)
        return FALSE;
    if (overlapped != nullptr || bytesWritten == nullptr || (buffer == nullptr && bytesToWrite != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    const auto* bytes = static_cast<const char*>(buffer);
    DWORD total = 0;
    while (total < bytesToWrite) {
        const ssize_t written = ::write(fd, bytes + total, bytesToWrite - total);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                return Fail(ERROR_DISK_FULL);
            return FailOnDescriptor(fd);
        }
        total += static_cast<DWORD>(written);
        *bytesWritten = total;
    }
    return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, DWORD* bytesRead, OVERLAPPED* overlapped) {
    if (bytesRead != nullptr)
        *bytesRead = 0;
    const int fd = FileDescriptor(file);
    if (fd < 0)
        return FALSE;
    if (overlapped != nullptr || bytesRead == nullptr || (buffer == nullptr && bytesToRead != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    // A file reads until the count or its end; a pipe or terminal returns what it has.
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return FailOnDescriptor(fd);
    const bool regular = S_ISREG(status.st_mode);
    auto* bytes = static_cast<char*>(buffer);
    DWORD total = 0;
    while (total < bytesToRead) {
        const ssize_t count = ::read(fd, bytes + total, bytesToRead - total);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return FailOnDescriptor(fd);
        if (count == 0)
            break;
        total += static_cast<DWORD>(count);
        *bytesRead = total;
        if (!regular)
            break;
    }
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD moveMethod) {
    const int fd = FileDescriptor(file);
    if (fd < 0)
        return INVALID_SET_FILE_POINTER;
    LONGLONG distance = distanceToMove;
    if (distanceToMoveHigh != nullptr)
        distance =
            static_cast<LONGLONG>((static_cast<ULONGLONG>(static_cast<DWORD>(*distanceToMoveHigh)) << 32) |
                                  static_cast<DWORD>(distanceToMove));
    LONGLONG origin = 0;
    if (moveMethod == FILE_CURRENT) {
        origin = ::lseek(fd, 0, SEEK_CUR);
    } else if (moveMethod == FILE_END) {
        struct stat status {};
        origin = ::fstat(fd, &status) == 0 ? status.st_size : -1;
    } else if (moveMethod != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (origin < 0) {
        FailOnDescriptor(fd);
        return INVALID_SET_FILE_POINTER;
    }
    LONGLONG target = 0;
    if (__builtin_add_overflow(origin, distance, &target)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    // Without the high part the position must fit the 32-bit result.
    if (distanceToMoveHigh == nullptr && target > static_cast<LONGLONG>(0xFFFFFFFE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (::lseek(fd, target, SEEK_SET) < 0) {
        FailOnDescriptor(fd);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh != nullptr)
        *distanceToMoveHigh = static_cast<LONG>(static_cast<ULONGLONG>(target) >> 32);
    // A position whose low part equals INVALID_SET_FILE_POINTER is told apart by the cleared last error.
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target);
}

BOOL SetEndOfFile(HANDLE file) {
    const int fd = FileDescriptor(file);
    if (fd < 0)
        return FALSE;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return FailOnDescriptor(fd);
    if ((flags & O_ACCMODE) == O_RDONLY)
        return Fail(ERROR_ACCESS_DENIED);
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    if (position < 0)
        return FailOnDescriptor(fd);
    // Cutting a file under a view would fault its readers; Windows refuses the same way.
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return FailOnDescriptor(fd);
    if (ViewRegistry::Instance().IsMapped({status.st_dev, status.st_ino}))
        return Fail(ERROR_USER_MAPPED_FILE);
    int result;
    do {
        result = ::ftruncate(fd, position);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        return FailOnDescriptor(fd);
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER fileSize) {
    const int fd = FileDescriptor(file);
    if (fd < 0)
        return FALSE;
    if (fileSize == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return FailOnDescriptor(fd);
    fileSize->QuadPart = status.st_size;
    return TRUE;
}
