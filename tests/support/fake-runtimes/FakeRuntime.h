#pragma once
// What the fake vendor runtimes share: a misuse or an entry point the fake does not implement is reported on
// standard error, so that a binding or transform that misuses the runtime fails its tests visibly.

#include <cstdarg>
#include <cstdio>

inline void FakeRuntimeComplaint(const char* runtime, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fprintf(stderr, "fake %s: ", runtime);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
}

// Exports every entry point of a table as a weak function that refuses the call; the fake's own definitions
// of the entry points it implements replace them when the library is linked.
#define PYX_FAKE_UNSUPPORTED_ENTRY(member, exportName, type)                                                 \
    extern "C" __attribute__((weak, visibility("default"))) int exportName(...) {                            \
        FakeRuntimeComplaint(PYX_FAKE_RUNTIME_NAME, "%s is not implemented", #exportName);                   \
        return PYX_FAKE_UNSUPPORTED_RESULT;                                                                  \
    }
