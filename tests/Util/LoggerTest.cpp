#include "Util/Logger.h"
#include "StderrCapture.h"
#include "Util/ComException.h"
#include "Util/HResultCheck.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using ::testing::ContainsRegex;
using ::testing::EndsWith;
using ::testing::HasSubstr;

namespace {

class LoggerTest : public ::testing::Test {
protected:
    LoggerTest() { Logger::Register(&m_logger); }
    ~LoggerTest() override { Logger::Register(nullptr); }

    Logger m_logger;
};

TEST_F(LoggerTest, LineHasTimeStampPaddedLevelAndNewline) {
    StderrCapture capture;
    LogInfo("event: %s", "save");
    LogWarn("w");
    LogError("e");
    LogDebug("d");
    const std::string text = capture.Text();
    EXPECT_THAT(
        text, ContainsRegex("^[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} INFO     event: save\n"));
    EXPECT_THAT(text, HasSubstr(" WARN     w\n"));
    EXPECT_THAT(text, HasSubstr(" ERROR    e\n"));
    EXPECT_THAT(text, HasSubstr(" DEBUG    d\n"));
}

TEST_F(LoggerTest, MessagesBelowTheMinimumLevelAreDropped) {
    StderrCapture capture;
    m_logger.SetMinimumLevel(Logger::Info);
    LogDebug("suppressed debug");
    m_logger.SetMinimumLevel(Logger::Error);
    LogInfo("suppressed info");
    LogWarn("suppressed warn");
    LogError("kept error");
    EXPECT_THAT(capture.Text(), ::testing::Not(HasSubstr("suppressed")));
    EXPECT_THAT(capture.Text(), HasSubstr("kept error"));
}

TEST_F(LoggerTest, LongMessagesAreCutAt4095Characters) {
    StderrCapture capture;
    LogInfo("%s", std::string(5000, 'x').c_str());
    const std::string text = capture.Text();
    EXPECT_THAT(text, EndsWith(std::string(4095, 'x') + "\n"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr(std::string(4096, 'x'))));
}

std::vector<std::pair<int, std::string>> g_hooked;

TEST_F(LoggerTest, LineHookReceivesTheBareMessageInsteadOfOutput) {
    const auto logFile = std::filesystem::temp_directory_path() / ("pyx-hook-" + std::to_string(::getpid()));
    ASSERT_TRUE(m_logger.OpenFile(logFile.string()));
    g_hooked.clear();
    m_logger.SetLineHook([](int level, const char* message) { g_hooked.emplace_back(level, message); });
    StderrCapture capture;
    LogWarn("hooked %d", 7);
    EXPECT_EQ(capture.Text(), "");
    EXPECT_EQ(std::filesystem::file_size(logFile), 0u);
    ASSERT_EQ(g_hooked.size(), 1u);
    EXPECT_EQ(g_hooked[0].first, Logger::Warn);
    EXPECT_EQ(g_hooked[0].second, "hooked 7");
    std::filesystem::remove(logFile);
}

TEST_F(LoggerTest, LogRawPrintsExactlyTheTextOnlyAtDebugLevel) {
    {
        StderrCapture capture;
        LogRaw("raw %s", "text");
        EXPECT_EQ(capture.Text(), "raw text");
    }
    m_logger.SetMinimumLevel(Logger::Info);
    StderrCapture capture;
    LogRaw("raw %s", "text");
    EXPECT_EQ(capture.Text(), "");
}

TEST_F(LoggerTest, LogFileGetsEveryLineAppendedAndIsPrivate) {
    const auto path = std::filesystem::temp_directory_path() / ("pyx-log-" + std::to_string(::getpid()));
    std::filesystem::remove(path);
    { std::ofstream(path) << "earlier\n"; }
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(m_logger.OpenFile(path.string()));
    m_logger.SetDebuggerOutput(false);
    StderrCapture capture;
    LogInfo("first");
    LogError("second");
    EXPECT_EQ(capture.Text(), "");
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_THAT(content.str(), ContainsRegex("^earlier\n.* INFO     first\n.* ERROR    second\n$"));
    std::filesystem::remove(path);

    const auto fresh = std::filesystem::temp_directory_path() / ("pyx-log-new-" + std::to_string(::getpid()));
    std::filesystem::remove(fresh);
    ASSERT_TRUE(m_logger.OpenFile(fresh.string()));
    struct stat info {};
    ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    std::filesystem::remove(fresh);
}

TEST_F(LoggerTest, LogFileIsNotOpenedThroughASymbolicLink) {
    const auto dir = std::filesystem::temp_directory_path() / ("pyx-link-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink(dir / "target", dir / "link");
    EXPECT_FALSE(m_logger.OpenFile((dir / "link").string()));
    EXPECT_FALSE(std::filesystem::exists(dir / "target"));
    std::filesystem::remove_all(dir);
}

TEST_F(LoggerTest, NothingIsLoggedWithoutARegisteredLogger) {
    Logger::Register(nullptr);
    StderrCapture capture;
    LogError("lost");
    LogRaw("lost");
    EXPECT_EQ(capture.Text(), "");
}

// Threads that log on while their logger is unregistered and destroyed: each call completes through the
// logger or is dropped, and none reaches it once it is gone.
TEST(LoggerLifetimeTest, CallsRacingTheLoggersDestructionAreWholeOrDropped) {
    const auto path = std::filesystem::temp_directory_path() / ("pyx-late-" + std::to_string(::getpid()));
    std::filesystem::remove(path);
    auto logger = std::make_unique<Logger>();
    logger->SetDebuggerOutput(false);
    ASSERT_TRUE(logger->OpenFile(path.string()));
    Logger::Register(logger.get());

    std::atomic<int> calls{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            while (!done.load()) {
                LogInfo("from thread %d", t);
                ++calls;
            }
        });
    auto waitForCalls = [&](int count) {
        for (int i = 0; i < 1000 && calls.load() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    waitForCalls(200);
    logger.reset();
    const auto sizeAtDestruction = std::filesystem::file_size(path);
    waitForCalls(calls.load() + 200);
    done = true;
    for (auto& thread : threads)
        thread.join();

    EXPECT_EQ(Logger::Instance(), nullptr);
    EXPECT_EQ(std::filesystem::file_size(path), sizeAtDestruction);
    std::ifstream in(path);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        ASSERT_THAT(line, ContainsRegex("^.* INFO     from thread [0-3]$"));
    }
    EXPECT_GE(lines, 200);
    std::filesystem::remove(path);
}

TEST_F(LoggerTest, ComExceptionCarriesTextAndResultAndLogsThem) {
    const ComException e("m_session->Start(&GUID_NULL, &var) failed", E_FAIL);
    EXPECT_STREQ(e.what(), "m_session->Start(&GUID_NULL, &var) failed");
    EXPECT_EQ(e.Error(), E_FAIL);
    StderrCapture capture;
    e.Log();
    EXPECT_THAT(
        capture.Text(),
        EndsWith("ERROR    ComException: m_session->Start(&GUID_NULL, &var) failed. HR: 0x80004005\n(0)\n"));
}

TEST_F(LoggerTest, ThrowingCheckThrowsOnlyOnFailureWithTheCallText) {
    EXPECT_NO_THROW(ThrowIfFailed(S_FALSE, "ok"));
    try {
        ThrowIfFailed(E_INVALIDARG, "MFCreateAttributes( &attributes, 2 )");
        FAIL() << "no exception";
    } catch (const ComException& e) {
        EXPECT_STREQ(e.what(), "MFCreateAttributes( &attributes, 2 ) failed");
        EXPECT_EQ(e.Error(), E_INVALIDARG);
    }
    const auto failing = [] {
        return E_POINTER;
    };
    try {
        THROW_IF_FAILED(failing());
        FAIL() << "no exception";
    } catch (const ComException& e) {
        EXPECT_STREQ(e.what(), "failing() failed");
    }
}

TEST_F(LoggerTest, LoggingCheckLogsTheCallAndReturnsTheResult) {
    StderrCapture capture;
    EXPECT_EQ(LogIfFailed(S_OK, "fine()"), S_OK);
    EXPECT_EQ(LogIfFailed(E_FAIL, "MFCreateSample( &sample )"), E_FAIL);
    EXPECT_EQ(capture.Text().find("fine()"), std::string::npos);
    EXPECT_THAT(capture.Text(),
                EndsWith("ERROR    MFCreateSample( &sample ) failed with error 0x80004005\n"));
}

} // namespace
