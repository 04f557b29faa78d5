#pragma once
// The debugger output stream: one write() of the whole text to standard error.

#include <minwindef.h>

void OutputDebugStringA(LPCSTR text);
