#include "LoopbackSource.h"

#include <processthreadsapi.h>

INT64 PerformanceCounterHundredNanoseconds() {
    LARGE_INTEGER count{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const INT64 f = frequency.QuadPart;
    return count.QuadPart / f * 10'000'000 + count.QuadPart % f * 10'000'000 / f;
}
