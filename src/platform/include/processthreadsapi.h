#pragma once
// Process handles on pidfd: signalled when the process has ended.

#include <fileapi.h>
#include <handleapi.h>

constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;

HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);
DWORD GetCurrentProcessId();

// Performance counter (CLOCK_MONOTONIC, frequency 10^9), sleeping and thread naming.

BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
void Sleep(DWORD milliseconds);
BOOL SwitchToThread();
// Names the calling thread (Linux keeps the first 15 bytes).
HRESULT SetThreadDescription(HANDLE thread, LPCWSTR description);
HANDLE GetCurrentThread();
