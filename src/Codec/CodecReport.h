#pragma once
// The codec library's three report forms. Transform methods never throw: a failed call or precondition is
// logged with the check's text, its function and line, and its HRESULT is returned; a programming error is
// logged and ends the process.
//   "<call> -> 0x%08X [<function>@<line>]"      a call returned a failure
//   "(<condition>) does not hold [<function>@<line>]"  a precondition failed
//   "ASSERTION FAILED: <condition> [<function>@<line>]"

#include <minwindef.h>

#include <string>

namespace kiv::mfcodec {

// The function text of a report: the compiler's signature without return type and parameter list, keeping
// "virtual" or "static" ("virtual HRESULT kiv::mfcodec::Base::ProcessInput(DWORD, ...)" gives
// "virtual kiv::mfcodec::Base::ProcessInput").
std::string FunctionText(const char* signature);

// Log one line of the form and hand `hr` back.
HRESULT ReportFailedCall(HRESULT hr, const char* call, const char* signature, int line);
HRESULT ReportFailedCondition(HRESULT hr, const char* condition, const char* signature, int line);
[[noreturn]] void ReportAssertion(const char* condition, const char* signature, int line);

} // namespace kiv::mfcodec

// Returns the failed result of `call` after reporting it.
#define KIV_RETURN_IF_FAILED(call)                                                                           \
    do {                                                                                                     \
        const HRESULT kivResult = (call);                                                                    \
        if (FAILED(kivResult))                                                                               \
            return ::kiv::mfcodec::ReportFailedCall(kivResult, #call, __PRETTY_FUNCTION__, __LINE__);        \
    } while (false)

// Returns `hr` after reporting that `condition` does not hold.
#define KIV_RETURN_UNLESS(condition, hr)                                                                     \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            return ::kiv::mfcodec::ReportFailedCondition((hr), #condition, __PRETTY_FUNCTION__, __LINE__);   \
    } while (false)

#define KIV_ASSERT(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            ::kiv::mfcodec::ReportAssertion(#condition, __PRETTY_FUNCTION__, __LINE__);                      \
    } while (false)
