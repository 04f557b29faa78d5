#pragma once
// Run-time loading of shared libraries (dlopen/dlsym/dlclose) under their Linux names.

#include <minwindef.h>

HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
