#pragma once
// The two conventions for checking an HRESULT at its call site:
//  - set-up paths throw ComException("<call> failed", hr);
//  - per-sample paths log "<call> failed with error 0x%08lx" at ERROR and hand the result back.
// The call text is the call as written; the macros take it from the source, the functions from the caller.

#include <minwindef.h>

void ThrowIfFailed(HRESULT hr, const char* callText);
HRESULT LogIfFailed(HRESULT hr, const char* callText);

#define THROW_IF_FAILED(call) ::ThrowIfFailed((call), #call)
#define LOG_IF_FAILED(call) ::LogIfFailed((call), #call)
