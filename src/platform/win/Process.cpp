#include <processthreadsapi.h>

#include "HandleTable.h"
#include "SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId) {
    if (processId == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0);
    if (fd < 0) {
        // No such process (or not a process id at all) reads as a bad parameter, as on Windows.
        SetLastError(errno == ESRCH || errno == EINVAL ? ERROR_INVALID_PARAMETER
                                                       : Win32ErrorFromErrno(errno));
        return nullptr;
    }
    // pidfd_open always sets close-on-exec.
    if (inheritHandle && ::fcntl(static_cast<int>(fd), F_SETFD, 0) != 0) {
        SetLastErrorFromErrno(errno);
        ::close(static_cast<int>(fd));
        return nullptr;
    }
    const HANDLE process = HandleTable::Instance().Register(static_cast<int>(fd), {HandleKind::Process});
    if (process != nullptr)
        SetLastError(ERROR_SUCCESS);
    return process;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }
