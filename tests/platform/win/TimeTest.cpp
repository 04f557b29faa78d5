#include <processthreadsapi.h>

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

TEST(TimeTest, PerformanceCounterCountsNanoseconds) {
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
