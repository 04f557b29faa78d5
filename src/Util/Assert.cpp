#include "Assert.h"

#include "Logger.h"

#include <cstdio>
#include <cstdlib>

void AssertionFailed(const char* condition, const char* function, int line) {
    // The line must be seen even before a logger exists.
    if (Logger::Instance() == nullptr)
        std::fprintf(stderr, "ASSERTION FAILED: %s [%s@%d]\n", condition, function, line);
    else
        LogError("ASSERTION FAILED: %s [%s@%d]", condition, function, line);
    std::abort();
}
