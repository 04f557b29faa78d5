#include "TempDirectory.h"
#include <fileapi.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileTest : public ::testing::Test {
protected:
    HANDLE Open(const std::string& name, DWORD access, DWORD disposition) {
        return CreateFileW(m_folder.Wide(name).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    void WriteText(const std::string& name, const std::string& text) {
        std::ofstream(m_folder.Path(name), std::ios::binary) << text;
    }
    std::string ReadText(const std::string& name) {
        std::ifstream in(m_folder.Path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static bool Write(HANDLE file, const std::string& text) {
        DWORD written = 0;
        const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return ok && written == text.size();
    }

    TempDirectory m_folder;
};

TEST_F(FileTest, CreateNewMakesPrivateFileAndRefusesExistingOne) {
    const HANDLE file = Open("a", GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(Write(file, "abc"));
    EXPECT_TRUE(CloseHandle(file));
    struct stat status {};
    ASSERT_EQ(::stat(m_folder.Path("a").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadText("a"), "abc");

    EXPECT_EQ(Open("a", GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadText("a"), "abc");
}

TEST_F(FileTest, CreateAlwaysTruncatesAndReportsExistingFile) {
    const HANDLE created = Open("a", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(Write(created, "old contents"));
    CloseHandle(created);
    ::chmod(m_folder.Path("a").c_str(), 0644);

    const HANDLE again = Open("a", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadText("a"), "");
    CloseHandle(again);
    struct stat status {};
    ASSERT_EQ(::stat(m_folder.Path("a").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "a replaced file is private like a new one";
}

TEST_F(FileTest, OpenDispositionsOnMissingAndExistingFiles) {
    EXPECT_EQ(Open("missing", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("no-folder/missing", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open("no-folder/new", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open("missing", GENERIC_WRITE, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("missing")));

    const HANDLE created = Open("b", GENERIC_READ, OPEN_ALWAYS);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(created);

    WriteText("b", "keep");
    const HANDLE opened = Open("b", GENERIC_READ, OPEN_ALWAYS);
    ASSERT_NE(opened, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(opened);
    EXPECT_EQ(ReadText("b"), "keep");

    const HANDLE truncated = Open("b", GENERIC_WRITE, TRUNCATE_EXISTING);
    ASSERT_NE(truncated, INVALID_HANDLE_VALUE);
    CloseHandle(truncated);
    EXPECT_EQ(ReadText("b"), "");
}

TEST_F(FileTest, BadArgumentsAreRefused) {
    EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Open("x", GENERIC_WRITE, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Open("x", GENERIC_WRITE, 6), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("x")));
    // A folder is not a file even though Linux opens it for reading.
    EXPECT_EQ(CreateFileW(m_folder.Wide("").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FileTest, SymbolicLinkAtFinalComponentIsNeverFollowed) {
    WriteText("target", "secret");
    std::filesystem::create_symlink(m_folder.Path("target"), m_folder.Path("link"));
    for (DWORD disposition : {CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
        SCOPED_TRACE(disposition);
        EXPECT_EQ(Open("link", GENERIC_READ | GENERIC_WRITE, disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_CANT_RESOLVE_FILENAME);
    }
    EXPECT_EQ(Open("link", GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadText("target"), "secret");

    // A dangling link must not create its target either.
    std::filesystem::create_symlink(m_folder.Path("elsewhere"), m_folder.Path("dangling"));
    EXPECT_EQ(Open("dangling", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("elsewhere")));
}

TEST_F(FileTest, UnicodeNameIsStoredAsUtf8) {
    const HANDLE file = CreateFileW((m_folder.Wide("") + L"/\u00e9t\u00e9-\u65e5.bin").c_str(), GENERIC_WRITE,
                                    0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("\xc3\xa9t\xc3\xa9-\xe6\x97\xa5.bin")));
}

TEST_F(FileTest, WriteReadAndSizeRoundTrip) {
    const HANDLE file = Open("data", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::string payload(1 << 20, 'x');
    EXPECT_TRUE(Write(file, payload));
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(size.QuadPart, static_cast<LONGLONG>(payload.size()));

    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
    std::string back(payload.size() + 10, '\0');
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, back.data(), static_cast<DWORD>(back.size()), &read, nullptr));
    EXPECT_EQ(read, payload.size());
    EXPECT_EQ(back.substr(0, read), payload);
    // At the end a read succeeds with nothing.
    ASSERT_TRUE(ReadFile(file, back.data(), 10, &read, nullptr));
    EXPECT_EQ(read, 0u);
    CloseHandle(file);
}

TEST_F(FileTest, ReadWriteArgumentAndAccessErrors) {
    const HANDLE reader = Open("r", GENERIC_READ, CREATE_ALWAYS);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    DWORD count = 7;
    EXPECT_FALSE(WriteFile(reader, "abc", 3, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(reader, nullptr, 3, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(WriteFile(reader, "abc", 3, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(ReadFile(reader, nullptr, 3, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetEndOfFile(reader));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(reader);

    const HANDLE writer = Open("w", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    char buffer[4];
    EXPECT_FALSE(ReadFile(writer, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(writer);

    for (HANDLE bad : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, writer}) {
        EXPECT_FALSE(WriteFile(bad, "abc", 3, &count, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

// Only regular files open: a device or a FIFO (which would block a writer until some reader came) is refused
// at once, whichever way it is opened.
TEST_F(FileTest, DevicesAndFifosAreRefusedWithoutBlocking) {
    ASSERT_EQ(::mkfifo(m_folder.Path("fifo").c_str(), 0600), 0);
    for (const std::wstring& path : {std::wstring(L"/dev/full"), m_folder.Wide("fifo")})
        for (const DWORD disposition : {OPEN_EXISTING, CREATE_ALWAYS, OPEN_ALWAYS})
            for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
                if (disposition != OPEN_EXISTING && access == GENERIC_READ)
                    continue;
                EXPECT_EQ(CreateFileW(path.c_str(), access, 0, nullptr, disposition, 0, nullptr),
                          INVALID_HANDLE_VALUE);
                EXPECT_EQ(GetLastError(), ERROR_BAD_FILE_TYPE);
            }
}

TEST_F(FileTest, SetFilePointerMovesAndReportsErrors) {
    const HANDLE file = Open("p", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Write(file, "0123456789"));

    EXPECT_EQ(SetFilePointer(file, -4, nullptr, FILE_END), 6u);
    EXPECT_EQ(SetFilePointer(file, 2, nullptr, FILE_CURRENT), 8u);
    EXPECT_EQ(SetFilePointer(file, 3, nullptr, FILE_BEGIN), 3u);
    char c = 0;
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, &c, 1, &read, nullptr));
    EXPECT_EQ(c, '3');

    EXPECT_EQ(SetFilePointer(file, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 4u) << "a failed move leaves the position";
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    // 64-bit positions: 0x1'FFFFFFFF has the low part INVALID_SET_FILE_POINTER, told apart by the last error.
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(high, 1);
    high = -1;
    EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    // Without the high part a position past 4 GiB cannot be returned.
    EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(file);
}

TEST_F(FileTest, SetEndOfFileCutsAtThePointer) {
    const HANDLE file = Open("t", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Write(file, "0123456789"));
    ASSERT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
    ASSERT_TRUE(SetEndOfFile(file));
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(size.QuadPart, 0);
    ASSERT_TRUE(Write(file, "ab"));
    CloseHandle(file);
    EXPECT_EQ(ReadText("t"), "ab");
}

TEST_F(FileTest, HandlesAreDescriptorsClosedOnExecAndClosedOnce) {
    const HANDLE file = Open("h", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const int fd = HandleToDescriptor(file);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(DescriptorToHandle(fd), file);
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

} // namespace
