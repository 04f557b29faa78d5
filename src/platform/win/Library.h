#pragma once
// Run-time loading of shared libraries (dlopen/dlsym/dlclose) under their Linux names.

#include "WinTypes.h"

HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
