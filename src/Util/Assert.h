#pragma once
// Checks for programming errors: a failed check logs "ASSERTION FAILED: <condition> [<function>@<line>]" and
// ends the process, since carrying on would run on broken invariants.

[[noreturn]] void AssertionFailed(const char* condition, const char* function, int line);

#define PYX_ASSERT(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            ::AssertionFailed(#condition, __func__, __LINE__);                                               \
    } while (false)
