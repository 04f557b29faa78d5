#include <processthreadsapi.h>
#include <pyx/CaptureClock.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <pthread.h>
#include <thread>

namespace {

std::string CurrentThreadName() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

// The performance counter counts the capture clock's nanoseconds; capture times are its 100-ns readings.
TEST(TimeTest, PerformanceCounterCountsTheCaptureClocksNanoseconds) {
    LARGE_INTEGER frequency{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 1'000'000'000);
    LARGE_INTEGER before{}, after{};
    ASSERT_TRUE(QueryPerformanceCounter(&before));
    Sleep(20);
    ASSERT_TRUE(QueryPerformanceCounter(&after));
    EXPECT_GE(after.QuadPart - before.QuadPart, 20'000'000);
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    ASSERT_TRUE(QueryPerformanceCounter(&before));
    const pyx::HundredNanoseconds now = pyx::CaptureTime();
    ASSERT_TRUE(QueryPerformanceCounter(&after));
    EXPECT_GE(now.count(), before.QuadPart / 100);
    EXPECT_LE(now.count(), after.QuadPart / 100);
}

TEST(TimeTest, FrameConversionsTruncateTowardZeroAndCoveringRoundsUp) {
    using pyx::HundredNanoseconds;
    EXPECT_EQ(pyx::FramesDuration(480, 48000), HundredNanoseconds(100'000));
    EXPECT_EQ(pyx::FramesDuration(1, 60), HundredNanoseconds(166'666));
    EXPECT_EQ(pyx::FramesDuration(1001, 8000), HundredNanoseconds(1'251'250));
    EXPECT_EQ(pyx::FramesDuration(-1, 3), HundredNanoseconds(-3'333'333));
    // A thousand years of 48 kHz frames: frames × 10^7 would not fit in 64 bits.
    constexpr std::int64_t Seconds = 1000LL * 365 * 86400;
    EXPECT_EQ(pyx::FramesDuration(Seconds * 48000 + 1, 48000),
              HundredNanoseconds(Seconds * 10'000'000 + 208));

    EXPECT_EQ(pyx::FramesWithin(HundredNanoseconds(100'000), 48000), 480);
    EXPECT_EQ(pyx::FramesWithin(HundredNanoseconds(99'999), 48000), 479);
    EXPECT_EQ(pyx::FramesWithin(HundredNanoseconds(-99'999), 48000), -479);
    EXPECT_EQ(pyx::FramesWithin(HundredNanoseconds(Seconds * 10'000'000 + 209), 48000), Seconds * 48000 + 1);

    EXPECT_EQ(pyx::FramesCovering(HundredNanoseconds(0), 48000), 0);
    EXPECT_EQ(pyx::FramesCovering(HundredNanoseconds(99'999), 48000), 480);
    EXPECT_EQ(pyx::FramesCovering(HundredNanoseconds(100'000), 48000), 480);
    EXPECT_EQ(pyx::FramesCovering(HundredNanoseconds(100'001), 48000), 481);
}

TEST(TimeTest, ThreadDescriptionNamesOnlyTheCurrentThread) {
    std::thread([] {
        EXPECT_EQ(SetThreadDescription(GetCurrentThread(), L"control"), S_OK);
        EXPECT_EQ(CurrentThreadName(), "control");
        // 15 bytes at most, never cutting a character: "é" takes two bytes.
        EXPECT_EQ(SetThreadDescription(GetCurrentThread(), L"abcdefghijklmn\u00e9"), S_OK);
        EXPECT_EQ(CurrentThreadName(), "abcdefghijklmn");
        EXPECT_EQ(
            SetThreadDescription(GetCurrentThread(), L"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"),
            S_OK);
        EXPECT_EQ(CurrentThreadName(), "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9");
        EXPECT_EQ(SetThreadDescription(reinterpret_cast<HANDLE>(5), L"x"), E_INVALIDARG);
        EXPECT_EQ(SetThreadDescription(GetCurrentThread(), nullptr), E_POINTER);
        EXPECT_EQ(CurrentThreadName(), "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9");
    }).join();
}

} // namespace
