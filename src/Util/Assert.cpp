#include "Assert.h"

#include "Logger.h"

#include <cstdlib>

void AssertionFailed(const char* condition, const char* function, int line) {
    LogError("ASSERTION FAILED: %s [%s@%d]", condition, function, line);
    std::abort();
}
