#pragma once
// The codec library's exception, thrown only by transform constructors and caught by the enumeration.

#include <minwindef.h>

#include <exception>

namespace kiv::mfcodec {

class Exception : public std::exception {
public:
    // `hr` 0 stands for a condition that does not hold. The texts are static (macro arguments).
    Exception(HRESULT hr, int line, const char* expression, const char* function, const char* file);

    const char* what() const noexcept override { return message; }

    HRESULT hr;
    int line;
    const char* expression;
    const char* function;
    const char* file;
    char message[200];
};

} // namespace kiv::mfcodec

// For constructors: a failed call or condition becomes an Exception carrying its text.
#define KIV_THROW_IF_FAILED(call)                                                                            \
    do {                                                                                                     \
        const HRESULT kivResult = (call);                                                                    \
        if (FAILED(kivResult))                                                                               \
            throw ::kiv::mfcodec::Exception(kivResult, __LINE__, #call, __PRETTY_FUNCTION__, __FILE__);      \
    } while (false)

#define KIV_THROW_UNLESS(condition)                                                                          \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            throw ::kiv::mfcodec::Exception(0, __LINE__, #condition, __PRETTY_FUNCTION__, __FILE__);         \
    } while (false)
