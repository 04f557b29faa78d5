// The capture sources against a real X server and a real X11 client drawing known colours.

#include "Capture/DDCapture.h"
#include "Capture/RTCapture.h"
#include "CaptureTestSupport.h"
#include "TestWindowProcess.h"
#include "Util/ComException.h"
#include <pyx/CaptureClock.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t Red = 0xFFFF0000;
constexpr std::uint32_t Green = 0xFF00FF00;
constexpr std::uint32_t Blue = 0xFF0000FF;
constexpr std::uint32_t White = 0xFFFFFFFF;

HWND Window(std::uint32_t id) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id)); }

// What a capture delivered: frame times, durations and the pixels probed in each frame.
class FrameLog {
public:
    explicit FrameLog(std::vector<std::pair<std::uint32_t, std::uint32_t>> probes)
        : m_probes(std::move(probes)) {}

    FrameCallback Callback(ID3D11Device** device) {
        return [this, device](ID3D11Texture2D* texture, std::int64_t time, std::int64_t duration) {
            std::vector<std::uint32_t> pixels;
            for (const auto& [x, y] : m_probes)
                pixels.push_back(ReadPixel(*device, texture, x, y));
            std::lock_guard lock(m_mutex);
            m_times.push_back(time);
            m_durations.push_back(duration);
            m_pixels = std::move(pixels);
        };
    }
    std::size_t Count() {
        std::lock_guard lock(m_mutex);
        return m_times.size();
    }
    std::vector<std::int64_t> Times() {
        std::lock_guard lock(m_mutex);
        return m_times;
    }
    std::vector<std::int64_t> Durations() {
        std::lock_guard lock(m_mutex);
        return m_durations;
    }
    std::vector<std::uint32_t> LastPixels() {
        std::lock_guard lock(m_mutex);
        return m_pixels;
    }

private:
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_probes;
    std::mutex m_mutex;
    std::vector<std::int64_t> m_times;
    std::vector<std::int64_t> m_durations;
    std::vector<std::uint32_t> m_pixels;
};

class CaptureSourcesTest : public ::testing::Test {
protected:
    TestWindowProcess m_target;
    ID3D11Device* m_device = nullptr;
};

TEST_F(CaptureSourcesTest, WindowCaptureDeliversTheWindowsExactPixelsAtMostAtTheFrameRate) {
    const HWND window = Window(m_target.Create("app 320 240 100 100 000000"));
    m_target.Command("quadrants app");
    m_target.Command("sync");
    FrameLog log({{80, 60}, {240, 60}, {80, 180}, {240, 180}});
    CaptureSettings settings;
    settings.hwnd = window;
    settings.frameRate = 60;
    settings.hideCursor = 1;
    settings.noBorder = 1;
    settings.frameCallback = log.Callback(&m_device);
    RTCapture capture(settings);
    m_device = capture.Device();
    EXPECT_EQ(capture.Width(), 320);
    EXPECT_EQ(capture.Height(), 240);
    capture.Start();

    ASSERT_TRUE(WaitFor([&] {
        return log.LastPixels() == std::vector<std::uint32_t>{Red, Green, Blue, White};
    }));
    // The window does not change for a repeat interval and a half: its image comes again, once or twice
    // rather than at the frame rate, and by the time the owner wants one.
    const std::size_t before = log.Count();
    std::this_thread::sleep_for(std::chrono::microseconds(RTCapture::RepeatInterval / 10 * 3 / 2));
    const std::size_t during = log.Count() - before;
    EXPECT_GE(during, 1u);
    EXPECT_LE(during, 2u);
    const std::int64_t wanted = pyx::CaptureTime().count() + 1000000;
    capture.DeliverBy(wanted);
    ASSERT_TRUE(WaitFor([&] { return log.Times().back() >= wanted; }));
    EXPECT_LT(log.Times().back(), wanted + 400000);

    m_target.Command("color app 123456");
    EXPECT_TRUE(WaitFor([&] { return log.LastPixels() == std::vector<std::uint32_t>(4, 0xFF123456); }));
    capture.Stop();

    // On average no faster than the frame rate; a late frame may be followed by one sooner than a period.
    const auto times = log.Times();
    ASSERT_GE(times.size(), 2u);
    for (std::size_t i = 1; i < times.size(); ++i)
        ASSERT_GE(times[i] - times[i - 1], 166666 / 2) << "frame " << i;
    EXPECT_GE(times.back() - times.front(), std::int64_t(times.size() - 1) * 166666 - 166666 / 2);
    for (const std::int64_t duration : log.Durations())
        ASSERT_EQ(duration, 166666);
}

TEST_F(CaptureSourcesTest, AnimatedWindowIsDeliveredAtTheFrameRate) {
    const HWND window = Window(m_target.Create("app 320 240 100 100 000000"));
    m_target.Command("animate app");
    FrameLog log({{10, 10}});
    CaptureSettings settings;
    settings.hwnd = window;
    settings.frameRate = 30;
    settings.hideCursor = 1;
    settings.frameCallback = log.Callback(&m_device);
    RTCapture capture(settings);
    m_device = capture.Device();
    capture.Start();
    ASSERT_TRUE(WaitFor([&] { return log.Count() > 0; }));
    const std::size_t before = log.Count();
    std::this_thread::sleep_for(1s);
    const std::size_t during = log.Count() - before;
    capture.Stop();
    EXPECT_GE(during, 15u);
    EXPECT_LE(during, 31u);
}

TEST_F(CaptureSourcesTest, CursorIsDrawnIntoTheWindowUnlessHidden) {
    // The pointer of a fresh server rests at the centre of the screen.
    const HWND window = Window(m_target.Create("app 200 200 860 440 000000"));
    m_target.Command("sync");
    auto countDrawn = [&](std::uint8_t hideCursor) {
        std::atomic<int> drawn{-1};
        CaptureSettings settings;
        settings.hwnd = window;
        settings.hideCursor = hideCursor;
        settings.frameCallback = [&](ID3D11Texture2D* texture, std::int64_t, std::int64_t) {
            int count = 0;
            for (std::uint32_t y = 90; y < 110; ++y)
                for (std::uint32_t x = 90; x < 110; ++x)
                    count += ReadPixel(m_device, texture, x, y) != 0xFF000000 ? 1 : 0;
            drawn = count;
        };
        RTCapture capture(settings);
        m_device = capture.Device();
        capture.Start();
        WaitFor([&] { return drawn.load() >= 0; });
        capture.Stop();
        return drawn.load();
    };
    EXPECT_EQ(countDrawn(1), 0);
    EXPECT_GT(countDrawn(0), 0);
}

TEST_F(CaptureSourcesTest, MonitorWinsOverWindowAndStoppingBeforeTheFirstFrameEndsCleanly) {
    const HWND window = Window(m_target.Create("app 320 240 100 100 336699"));
    CaptureSettings settings;
    settings.hwnd = window;
    settings.hmon = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTONULL);
    settings.frameCallback = [](ID3D11Texture2D*, std::int64_t, std::int64_t) {
    };
    RTCapture both(settings);
    EXPECT_EQ(both.Width(), 1920);
    EXPECT_EQ(both.Height(), 1080);

    for (int i = 0; i < 5; ++i) {
        RTCapture capture(settings);
        capture.Start();
        capture.Stop();
    }
    RTCapture neverStarted(settings);
    neverStarted.Stop();

    settings.hmon = nullptr;
    settings.hwnd = nullptr;
    EXPECT_THROW(RTCapture{settings}, std::invalid_argument);
}

TEST_F(CaptureSourcesTest, WindowThatIsDestroyedWhileCapturedKeepsTheCaptureAlive) {
    const HWND window = Window(m_target.Create("app 320 240 100 100 336699"));
    FrameLog log({{10, 10}});
    CaptureSettings settings;
    settings.hwnd = window;
    settings.hideCursor = 1;
    settings.frameCallback = log.Callback(&m_device);
    RTCapture capture(settings);
    m_device = capture.Device();
    capture.Start();
    ASSERT_TRUE(WaitFor([&] { return !log.LastPixels().empty() && log.LastPixels()[0] == 0xFF336699u; }));
    m_target.Command("destroy app");
    const std::size_t before = log.Count();
    // Still alive: a frame wanted by a time comes, with the last picture.
    capture.DeliverBy(pyx::CaptureTime().count() + 1000000);
    std::this_thread::sleep_for(700ms);
    EXPECT_GT(log.Count(), before);
    EXPECT_EQ(log.LastPixels()[0], 0xFF336699u);
    capture.Stop();

    CaptureSettings gone = settings;
    EXPECT_THROW(RTCapture{gone}, ComException);
}

TEST_F(CaptureSourcesTest, WindowCaptureStopsAndTellsTheNewSizeWhenTheWindowIsResized) {
    FrameLog log({{10, 10}});
    std::atomic<int> reports{0};
    std::atomic<std::int32_t> reportedWidth{0};
    std::atomic<std::int32_t> reportedHeight{0};
    CaptureSettings settings;
    settings.hwnd = Window(m_target.Create("main 320 240 100 100 336699"));
    settings.frameCallback = log.Callback(&m_device);
    settings.sizeChangeCallback = [&](std::int32_t width, std::int32_t height) {
        reportedWidth = width;
        reportedHeight = height;
        ++reports;
    };
    RTCapture capture(settings);
    m_device = capture.Device();
    capture.Start();
    ASSERT_TRUE(WaitFor([&] { return log.Count() > 0; }));
    EXPECT_EQ(reports.load(), 0);

    // No frame of the new size is delivered cut to the old one: the capture ends, telling the new size.
    m_target.Command("move main 100 100 400 300");
    ASSERT_TRUE(WaitFor([&] { return reports.load() != 0; }));
    EXPECT_EQ(reportedWidth.load(), 400);
    EXPECT_EQ(reportedHeight.load(), 300);
    const std::size_t after = log.Count();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(log.Count(), after);
    capture.Stop();
    EXPECT_EQ(reports.load(), 1);
}

TEST_F(CaptureSourcesTest, DesktopDuplicationDeliversTheMonitorsPixelsAtTheFrameRate) {
    m_target.Create("app 100 100 200 200 3366cc");
    m_target.Command("sync");
    FrameLog log({{250, 250}, {150, 150}});
    CaptureSettings settings;
    settings.hmon = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTONULL);
    settings.frameCallback = log.Callback(&m_device);
    DDCapture capture(settings);
    m_device = capture.Device();
    EXPECT_EQ(capture.Width(), 1920);
    EXPECT_EQ(capture.Height(), 1080);
    EXPECT_EQ(capture.Rotation(), DXGI_MODE_ROTATION_IDENTITY);
    capture.Start();
    ASSERT_TRUE(WaitFor([&] { return !log.LastPixels().empty() && log.LastPixels()[0] == 0xFF3366CC; }));
    EXPECT_EQ(log.LastPixels()[1], 0xFF000000u);

    const std::size_t before = log.Count();
    std::this_thread::sleep_for(1s);
    const std::size_t during = log.Count() - before;
    EXPECT_GE(during, 30u);
    EXPECT_LE(during, 61u);

    m_target.Command("color app 00ff00");
    EXPECT_TRUE(WaitFor([&] { return log.LastPixels()[0] == Green; }));
    capture.Stop();
}

TEST_F(CaptureSourcesTest, DesktopDuplicationStopsWithTheNewSizeWhenTheMonitorChanges) {
    ASSERT_EQ(m_target.Command("monitors left:0,0,960x1080;right:960,0,960x1080"), "ok");
    std::atomic<std::int32_t> reportedWidth{0};
    std::atomic<std::int32_t> reportedHeight{0};
    CaptureSettings settings;
    settings.hmon = MonitorFromPoint(POINT{1000, 10}, MONITOR_DEFAULTTONULL);
    settings.frameCallback = [](ID3D11Texture2D*, std::int64_t, std::int64_t) {
    };
    settings.sizeChangeCallback = [&](std::int32_t width, std::int32_t height) {
        reportedHeight = height;
        reportedWidth = width;
    };
    DDCapture capture(settings);
    EXPECT_EQ(capture.Width(), 960);
    capture.Start();
    std::this_thread::sleep_for(100ms);

    ASSERT_EQ(m_target.Command("monitors left:0,0,960x1080;right:960,0,960x540"), "ok");
    EXPECT_TRUE(WaitFor([&] { return reportedWidth.load() != 0; }));
    EXPECT_EQ(reportedWidth.load(), 960);
    EXPECT_EQ(reportedHeight.load(), 540);
    capture.Stop();
    m_target.Command("monitors-delete left");
    m_target.Command("monitors-delete right");
}

TEST_F(CaptureSourcesTest, DesktopDuplicationEndsAfterFiveFailedReinitialisations) {
    ASSERT_EQ(m_target.Command("monitors left:0,0,960x1080;right:960,0,960x1080"), "ok");
    ReportCollector reports;
    std::atomic<std::int32_t> reportedWidth{0};
    CaptureSettings settings;
    settings.hmon = MonitorFromPoint(POINT{1000, 10}, MONITOR_DEFAULTTONULL);
    settings.frameCallback = [](ID3D11Texture2D*, std::int64_t, std::int64_t) {
    };
    settings.sizeChangeCallback = [&](std::int32_t width, std::int32_t) {
        reportedWidth = width;
    };
    DDCapture capture(settings);
    capture.Start();
    std::this_thread::sleep_for(100ms);

    m_target.Command("monitors-delete right");
    EXPECT_TRUE(WaitFor([&] { return reportedWidth.load() != 0; }, 5s));
    EXPECT_EQ(reportedWidth.load(), 960);
    capture.Stop();
    const auto sent = reports.Reports();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent.front().kind, ErrorSink::KindNotice);
    EXPECT_EQ(sent.front().hr, DXGI_ERROR_ACCESS_LOST);
    EXPECT_EQ(sent.front().text, "Failed to capture frame from Desktop Duplication");
    EXPECT_EQ(sent.back().kind, ErrorSink::KindError);
    EXPECT_EQ(sent.back().code, 1u);
    EXPECT_EQ(sent.back().text, "Failed to capture frame from Desktop Duplication. An exception was thrown: "
                                "Monitor not found");
    m_target.Command("monitors-delete left");
}

TEST_F(CaptureSourcesTest, DesktopDuplicationOfAMonitorNoOutputDescribesFails) {
    CaptureSettings settings;
    settings.hmon = reinterpret_cast<HMONITOR>(std::uintptr_t{0x7777777});
    try {
        DDCapture capture(settings);
        FAIL() << "constructed";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Monitor not found");
    }
}

} // namespace
