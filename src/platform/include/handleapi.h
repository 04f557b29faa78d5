#pragma once
// Kernel handles. A handle value is the Linux descriptor number, so an inherited descriptor n is the handle
// n.

#include <minwindef.h>

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

// Descriptor behind a handle, -1 for the null and invalid handles.
int HandleToDescriptor(HANDLE handle);
HANDLE DescriptorToHandle(int fd);

BOOL CloseHandle(HANDLE handle);
