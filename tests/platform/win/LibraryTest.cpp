#include <libloaderapi.h>

#include <gtest/gtest.h>

namespace {

TEST(LibraryTest, LoadsAndResolvesBySharedObjectName) {
    const HMODULE library = LoadLibraryW(L"libm.so.6");
    ASSERT_NE(library, nullptr);
    const auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(library, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(GetProcAddress(library, "no_such_function"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(library, reinterpret_cast<LPCSTR>(3)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(library));
}

TEST(LibraryTest, MissingLibraryAndBadArguments) {
    EXPECT_EQ(LoadLibraryW(L"libpyx-no-such-runtime.so.1"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetProcAddress(nullptr, "cos"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FreeLibrary(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

} // namespace
