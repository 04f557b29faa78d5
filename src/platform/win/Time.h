#pragma once
// Performance counter (CLOCK_MONOTONIC, frequency 10^9), sleeping and thread naming.

#include "File.h"

BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
void Sleep(DWORD milliseconds);
BOOL SwitchToThread();
// Names the calling thread (Linux keeps the first 15 bytes).
HRESULT SetThreadDescription(HANDLE thread, LPCWSTR description);
HANDLE GetCurrentThread();
