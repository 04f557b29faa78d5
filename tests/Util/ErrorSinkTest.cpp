#include "Util/ErrorSink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Report {
    int kind;
    std::uint32_t code;
    HRESULT hr;
    std::string text;
};

TEST(ErrorSinkTest, ReportsReachTheInstalledSlotWithKindCodeResultAndText) {
    std::vector<Report> reports;
    ErrorSink::Slot slot([&](int kind, std::uint32_t code, HRESULT hr, const char* text) {
        reports.push_back({kind, code, hr, text});
    });
    ErrorSink::install(&slot);
    ErrorSink::report(7, E_ACCESSDENIED, "device %s", "lost");
    ErrorSink::reportFailure(8, "no frames for %d ms", 500);
    ErrorSink::notice(9, S_FALSE, nullptr);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].kind, ErrorSink::KindError);
    EXPECT_EQ(reports[0].code, 7u);
    EXPECT_EQ(reports[0].hr, E_ACCESSDENIED);
    EXPECT_EQ(reports[0].text, "device lost");
    EXPECT_EQ(reports[1].kind, ErrorSink::KindError);
    EXPECT_EQ(reports[1].hr, E_FAIL);
    EXPECT_EQ(reports[1].text, "no frames for 500 ms");
    EXPECT_EQ(reports[2].kind, ErrorSink::KindNotice);
    EXPECT_EQ(reports[2].text, "");
}

TEST(ErrorSinkTest, ReportsAfterTheSlotIsGoneAreDropped) {
    int delivered = 0;
    {
        ErrorSink::Slot slot([&](int, std::uint32_t, HRESULT, const char*) { ++delivered; });
        ErrorSink::install(&slot);
        ErrorSink::report(1, E_FAIL, "x");
    }
    ErrorSink::report(1, E_FAIL, "after release");
    EXPECT_EQ(delivered, 1);
}

TEST(ErrorSinkTest, ReplacingTheSlotWhileReportsArriveNeverDeliversToAReleasedSlot) {
    std::atomic<bool> stop{false};
    std::thread reporter([&] {
        while (!stop)
            ErrorSink::notice(1, S_OK, "tick");
    });
    for (int i = 0; i < 200; ++i) {
        auto alive = std::make_shared<bool>(true);
        auto slot = std::make_unique<ErrorSink::Slot>(
            [alive](int, std::uint32_t, HRESULT, const char*) { EXPECT_TRUE(*alive); });
        ErrorSink::install(slot.get());
        slot.reset();
        *alive = false;
    }
    stop = true;
    reporter.join();
}

} // namespace
