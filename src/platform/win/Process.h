#pragma once
// Process handles on pidfd: signalled when the process has ended.

#include "Handle.h"

constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;

HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);
DWORD GetCurrentProcessId();
