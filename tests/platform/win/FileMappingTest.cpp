#include "TempDirectory.h"
#include <fileapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

class FileMappingTest : public ::testing::Test {
protected:
    HANDLE OpenWith(const std::string& text, DWORD access = GENERIC_READ) {
        std::ofstream(m_folder.Path("m"), std::ios::binary) << text;
        const HANDLE file = CreateFileW(m_folder.Wide("m").c_str(), access, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        return file;
    }

    TempDirectory m_folder;
};

TEST_F(FileMappingTest, WholeFileViewReadsTheContents) {
    const std::string text = "ring segment contents";
    const HANDLE file = OpenWith(text);
    const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    EXPECT_NE(mapping, file);
    const auto* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    // The view outlives the mapping and file handles.
    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(std::string(view, text.size()), text);
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_FALSE(UnmapViewOfFile(view));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(FileMappingTest, MappedFileIsNotCutUnderItsView) {
    const HANDLE file = OpenWith("0123456789", GENERIC_READ | GENERIC_WRITE);
    const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    const auto* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
    EXPECT_FALSE(SetEndOfFile(file));
    EXPECT_EQ(GetLastError(), ERROR_USER_MAPPED_FILE);
    EXPECT_EQ(view[9], '9');
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(SetEndOfFile(file));
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(size.QuadPart, 0);
    CloseHandle(mapping);
    CloseHandle(file);
}

TEST_F(FileMappingTest, EmptyFileCannotBeMapped) {
    const HANDLE file = OpenWith("");
    EXPECT_EQ(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_INVALID);
    CloseHandle(file);
}

TEST_F(FileMappingTest, SizedMappingsAndViewsStayInsideTheFile) {
    const long page = ::sysconf(_SC_PAGESIZE);
    std::string text(static_cast<std::size_t>(page) * 2, 'a');
    text[static_cast<std::size_t>(page)] = 'b';
    const HANDLE file = OpenWith(text);
    EXPECT_EQ(
        CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, static_cast<DWORD>(text.size() + 1), nullptr),
        nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);

    const HANDLE mapping =
        CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, static_cast<DWORD>(page + 1), nullptr);
    ASSERT_NE(mapping, nullptr);
    const auto* second =
        static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, static_cast<DWORD>(page), 1));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second[0], 'b');
    EXPECT_TRUE(UnmapViewOfFile(second));

    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, static_cast<DWORD>(page), 2), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 1, 1), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ | 0x0002, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(mapping);
    CloseHandle(file);
}

TEST_F(FileMappingTest, BadHandlesAndUnsupportedRequestsFail) {
    const HANDLE file = OpenWith("x");
    EXPECT_EQ(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, L"name"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(CreateFileMappingW(file, nullptr, 0x04 /* PAGE_READWRITE */, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateFileMappingW(nullptr, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // A file handle is not a mapping.
    EXPECT_EQ(MapViewOfFile(file, FILE_MAP_READ, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    int local = 0;
    EXPECT_FALSE(UnmapViewOfFile(&local));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(file);

    const HANDLE writeOnly = OpenWith("x", GENERIC_WRITE);
    EXPECT_EQ(CreateFileMappingW(writeOnly, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(writeOnly);
}

} // namespace
