#include <processthreadsapi.h>

#include "SystemError.h"
#include <pyx/CaptureClock.h>
#include <stringapiset.h>
#include <synchapi.h>

#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <unistd.h>

namespace {

constexpr LONGLONG NanosecondsPerSecond = 1'000'000'000;
// Linux thread names hold 15 bytes and the terminator.
constexpr std::size_t ThreadNameBytes = 15;
const HANDLE CurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

// Cuts at a character boundary: never in the middle of a UTF-8 sequence.
std::string TruncateUtf8(std::string text, std::size_t bytes) {
    if (text.size() <= bytes)
        return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

} // namespace

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (count == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    count->QuadPart = pyx::CaptureClock::now().time_since_epoch().count();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (frequency == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    frequency->QuadPart = pyx::CaptureClock::period::den;
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        ::sched_yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;)
            ::pause();
    }
    // An absolute deadline keeps the total right however often a signal interrupts the sleep.
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1'000'000;
    if (deadline.tv_nsec >= NanosecondsPerSecond) {
        deadline.tv_nsec -= NanosecondsPerSecond;
        ++deadline.tv_sec;
    }
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

BOOL SwitchToThread() { return ::sched_yield() == 0; }

HANDLE GetCurrentThread() { return CurrentThreadPseudoHandle; }

HRESULT SetThreadDescription(HANDLE thread, LPCWSTR description) {
    if (thread != CurrentThreadPseudoHandle)
        return E_INVALIDARG;
    if (description == nullptr)
        return E_POINTER;
    const std::string name = TruncateUtf8(WideToUtf8(description), ThreadNameBytes);
    const int error = ::pthread_setname_np(::pthread_self(), name.c_str());
    return error == 0 ? S_OK : HRESULT_FROM_WIN32(Win32ErrorFromErrno(error));
}
