#include "platform/win/CommandLineQuoting.h"
#include <shellapi.h>
#include <stringapiset.h>

#include <gtest/gtest.h>

#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::vector<std::wstring> Split(LPCWSTR line) {
    int count = -1;
    LPWSTR* argv = CommandLineToArgvW(line, &count);
    EXPECT_NE(argv, nullptr);
    if (argv == nullptr)
        return {};
    EXPECT_EQ(argv[count], nullptr);
    std::vector<std::wstring> arguments(argv, argv + count);
    EXPECT_EQ(LocalFree(argv), nullptr);
    return arguments;
}

using Arguments = std::vector<std::wstring>;

const Arguments TrickyArguments = {
    L"/opt/pyx video/pyx-video",
    L"--file",
    L"C:\\dir with space\\",
    L"",
    L"say \"hi\"",
    L"a\\\\b",
    L"\\\"",
    L"end\\",
    L"\t",
    L"\u00e9t\u00e9 \u65e5\u672c",
    L"\"",
    L"x\\\\\"y",
};

TEST(CommandLineTest, SplittingFollowsTheBackslashAndQuoteRules) {
    EXPECT_EQ(Split(L"prog a\\\\b \"c d\" e\\\"f"), (Arguments{L"prog", L"a\\\\b", L"c d", L"e\"f"}));
    EXPECT_EQ(Split(L"prog \"a\\\\\" b"), (Arguments{L"prog", L"a\\", L"b"}));
    EXPECT_EQ(Split(L"prog \\\\\\\"x"), (Arguments{L"prog", L"\\\"x"}));
    EXPECT_EQ(Split(L"prog  \t a\"b c\"d  "), (Arguments{L"prog", L"ab cd"}));
    EXPECT_EQ(Split(L"prog \"\" \"a\"\"b c\""), (Arguments{L"prog", L"", L"a\"b", L"c"}));
    EXPECT_EQ(Split(L"prog \"\"\"a\"\"\""), (Arguments{L"prog", L"\"a\""}));
}

TEST(CommandLineTest, ProgramNameTakesNoEscapes) {
    EXPECT_EQ(Split(L"\"C:\\my dir\\prog\" x"), (Arguments{L"C:\\my dir\\prog", L"x"}));
    EXPECT_EQ(Split(L"C:\\dir\\\"prog x"), (Arguments{L"C:\\dir\\\"prog", L"x"}));
    EXPECT_EQ(Split(L" x"), (Arguments{L"", L"x"}));
    EXPECT_EQ(Split(L"\"unterminated name"), (Arguments{L"unterminated name"}));
}

TEST(CommandLineTest, EmptyLineGivesTheProgramPathAndNullCountFails) {
    char path[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", path, sizeof path - 1), 0);
    EXPECT_EQ(Split(L""), (Arguments{Utf8ToWide(path)}));
    EXPECT_EQ(CommandLineToArgvW(L"prog", nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CommandLineTest, JoinedArgumentsSplitBackUnchanged) {
    EXPECT_EQ(Split(BuildCommandLine(TrickyArguments).c_str()), TrickyArguments);
    EXPECT_EQ(Split(BuildCommandLine({L"prog"}).c_str()), Arguments{L"prog"});
    EXPECT_EQ(Split(BuildCommandLine({L""}).c_str()), Arguments{L""});
    // A program name cannot carry a double quote; dropping it keeps the other arguments intact.
    EXPECT_EQ(Split(BuildCommandLine({L"odd\"name x", L"a b"}).c_str()), (Arguments{L"oddname x", L"a b"}));
}

TEST(CommandLineTest, ProcessCommandLineGivesBackTheRealArguments) {
    std::vector<std::string> arguments{PYX_PRINT_ARGUMENTS};
    for (std::size_t i = 1; i < TrickyArguments.size(); ++i)
        arguments.push_back(WideToUtf8(TrickyArguments[i]));
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    std::string printed;
    char buffer[4096];
    for (ssize_t count; (count = ::read(output[0], buffer, sizeof buffer)) > 0;)
        printed.append(buffer, static_cast<std::size_t>(count));
    ::close(output[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);

    std::string expected;
    for (const auto& argument : arguments)
        expected += argument + '\0';
    EXPECT_EQ(printed, expected);
}

} // namespace
