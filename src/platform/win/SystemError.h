#pragma once
// Linux errno values as Win32 error codes.

#include <minwindef.h>

DWORD Win32ErrorFromErrno(int error);
void SetLastErrorFromErrno(int error);
// For a failed call on a descriptor: EBADF on a descriptor that is open means the access mode forbids
// the call (ERROR_ACCESS_DENIED); on a closed one it means ERROR_INVALID_HANDLE.
void SetLastErrorFromDescriptorErrno(int fd, int error);
