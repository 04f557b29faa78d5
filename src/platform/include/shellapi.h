#pragma once
// The process command line: GetCommandLineW joins the real arguments of this process with Windows quoting,
// CommandLineToArgvW splits a command line by the Windows rules, so the pair gives the arguments back.

#include <minwindef.h>

LPWSTR GetCommandLineW();
// The returned array is freed with LocalFree.
LPWSTR* CommandLineToArgvW(LPCWSTR commandLine, int* numArgs);
void* LocalFree(void* memory);
