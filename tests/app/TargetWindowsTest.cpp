// Target-window listing against real X11 clients under a window manager.

#include "app/TargetWindows.h"
#include "TestWindowProcess.h"

#include <gtest/gtest.h>

namespace {

HWND Handle(std::uint32_t id) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id)); }

// What the control thread takes: the first candidate that is visible and not minimised.
HWND Choose(std::uint32_t pid) {
    for (const WindowCandidate& candidate : EnumerateTargetWindows(pid))
        if (IsWindowVisible(candidate.window) && !IsIconic(candidate.window))
            return candidate.window;
    return nullptr;
}

bool Listed(std::uint32_t pid, HWND window) {
    for (const WindowCandidate& candidate : EnumerateTargetWindows(pid))
        if (candidate.window == window)
            return true;
    return false;
}

class TargetWindowsTest : public ::testing::Test {
protected:
    TestWindowProcess m_target;
    std::uint32_t Pid() const { return static_cast<std::uint32_t>(m_target.Pid()); }
};

TEST_F(TargetWindowsTest, HiddenMainWindowIsListedButTheVisibleDialogIsChosen) {
    const HWND main = Handle(m_target.Create("main 400 300 50 50 336699 hidden"));
    const HWND dialog = Handle(m_target.Create("dialog 200 100 100 100 996633 dialog"));
    // A window the manager has just mapped is listed a moment later, once it is marked as its client.
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(dialog) == TRUE && Listed(Pid(), dialog); }));
    ASSERT_TRUE(Listed(Pid(), main));
    EXPECT_FALSE(IsWindowVisible(main));
    EXPECT_EQ(Choose(Pid()), dialog);

    const auto candidates = EnumerateTargetWindows(Pid());
    for (const WindowCandidate& candidate : candidates) {
        EXPECT_EQ(candidate.pid, Pid());
        if (candidate.window == dialog) {
            EXPECT_EQ(candidate.title, L"dialog");
        }
    }
}

TEST_F(TargetWindowsTest, ChildAndPopupWindowsAreNeverCandidates) {
    const HWND top = Handle(m_target.Create("top 400 300 50 50 336699"));
    const HWND child =
        Handle(std::stoul(m_target.Command("child top inner 100 100 10 10 ff0000").substr(6), nullptr, 16));
    const HWND popup = Handle(m_target.Create("menu 100 100 600 600 00ff00 override"));
    ASSERT_TRUE(WaitFor([&] {
        return IsWindowVisible(top) && IsWindowVisible(child) && IsWindowVisible(popup) && Listed(Pid(), top);
    }));

    EXPECT_TRUE(Listed(Pid(), top));
    EXPECT_FALSE(Listed(Pid(), child));
    EXPECT_FALSE(Listed(Pid(), popup));
    WINDOWINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetWindowInfo(child, &info));
    EXPECT_NE(info.dwStyle & WS_CHILD, 0u);
    ASSERT_TRUE(GetWindowInfo(popup, &info));
    EXPECT_NE(info.dwStyle & WS_CHILD, 0u);
}

TEST_F(TargetWindowsTest, TheActiveWindowComesFirst) {
    const HWND first = Handle(m_target.Create("first 300 200 50 50 336699"));
    const HWND second = Handle(m_target.Create("second 300 200 400 50 996633"));
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(first) && IsWindowVisible(second); }));

    auto activeFirst = [&](HWND active, HWND other) {
        const auto candidates = EnumerateTargetWindows(Pid());
        WINDOWINFO info{};
        info.cbSize = sizeof(info);
        return candidates.size() == 2 && candidates[0].window == active && candidates[1].window == other &&
               GetWindowInfo(active, &info) && info.dwWindowStatus == WS_ACTIVECAPTION &&
               GetWindowInfo(other, &info) && info.dwWindowStatus == 0;
    };
    m_target.Command("activate first");
    EXPECT_TRUE(WaitFor([&] { return activeFirst(first, second); }));
    m_target.Command("activate second");
    EXPECT_TRUE(WaitFor([&] { return activeFirst(second, first); }));
    EXPECT_EQ(Choose(Pid()), second);
}

TEST_F(TargetWindowsTest, MinimisedTargetIsPassedOverAndFoundAgainAfterRestore) {
    const HWND window = Handle(m_target.Create("app 300 200 50 50 336699"));
    ASSERT_TRUE(WaitFor([&] { return Choose(Pid()) == window; }));

    m_target.Command("iconify app");
    ASSERT_TRUE(WaitFor([&] { return IsIconic(window) == TRUE; }));
    EXPECT_TRUE(Listed(Pid(), window));
    EXPECT_EQ(Choose(Pid()), nullptr);

    m_target.Command("map app");
    ASSERT_TRUE(WaitFor([&] { return Choose(Pid()) == window; }));
    EXPECT_FALSE(IsIconic(window));
}

TEST_F(TargetWindowsTest, DestroyedWindowReadsAsNotVisible) {
    const HWND window = Handle(m_target.Create("gone 300 200 50 50 336699"));
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(window) == TRUE; }));
    m_target.Command("destroy gone");
    m_target.Command("sync");
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(window) == FALSE; }));
    EXPECT_FALSE(IsIconic(window));
    RECT rect{1, 2, 3, 4};
    EXPECT_FALSE(GetWindowRect(window, &rect));
    EXPECT_EQ(GetWindowTitle(window), L"");
    DWORD pid = 123;
    EXPECT_EQ(GetWindowThreadProcessId(window, &pid), 0u);
    EXPECT_EQ(pid, 0u);
    EXPECT_FALSE(Listed(Pid(), window));
}

TEST_F(TargetWindowsTest, UnknownProcessHasNoCandidates) {
    m_target.Create("app 300 200 50 50 336699");
    EXPECT_TRUE(EnumerateTargetWindows(0x7FFFFFF0).empty());
}

TEST_F(TargetWindowsTest, WindowStraddlingTwoMonitorsBelongsToTheOneWithItsCentre) {
    ASSERT_EQ(m_target.Command("monitors left:0,0,960x1080;right:960,0,960x1080"), "ok");
    const HMONITOR left = MonitorFromPoint(POINT{100, 100}, MONITOR_DEFAULTTONULL);
    const HMONITOR right = MonitorFromPoint(POINT{1800, 100}, MONITOR_DEFAULTTONULL);
    ASSERT_NE(left, nullptr);
    ASSERT_NE(right, nullptr);
    ASSERT_NE(left, right);

    const HWND mostlyRight = Handle(m_target.Create("a 600 300 700 100 336699"));
    const HWND mostlyLeft = Handle(m_target.Create("b 600 300 400 500 996633"));
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(mostlyRight) && IsWindowVisible(mostlyLeft); }));
    EXPECT_EQ(MonitorOfWindow(mostlyRight), right);
    EXPECT_EQ(MonitorOfWindow(mostlyLeft), left);
    EXPECT_EQ(MonitorOfWindow(nullptr), left);

    MONITORINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetMonitorInfoW(right, &info));
    EXPECT_EQ(info.rcMonitor.left, 960);
    EXPECT_EQ(info.rcMonitor.right, 1920);
    EXPECT_EQ(info.dwFlags, 0u);
    ASSERT_TRUE(GetMonitorInfoW(left, &info));
    EXPECT_EQ(info.dwFlags, MONITORINFOF_PRIMARY);
    EXPECT_EQ(MonitorFromPoint(POINT{5000, 5000}, MONITOR_DEFAULTTONULL), nullptr);
    EXPECT_EQ(MonitorFromPoint(POINT{5000, 100}, MONITOR_DEFAULTTONEAREST), right);

    m_target.Command("monitors-delete left");
    m_target.Command("monitors-delete right");
}

} // namespace
