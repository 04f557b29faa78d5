#pragma once
// Failures in words for messages that name a path: the text of an errno-style error code, or of an HRESULT
// (falling back to its number only when it has no words).

#include <minwindef.h>

#include <string>
#include <system_error>

// Lower-case, e.g. "no space left on device".
std::string ErrorText(const std::error_code& error);
std::string ErrorText(HRESULT hr);
// A Win32 error code (GetLastError).
std::string Win32ErrorText(DWORD error);
