// A window grabbed into pictures that keep their content, as a frame pool's textures do: after changes in a
// small area, and after a resize, each picture equals a whole grab of the window.

#include "platform/x11/WindowSource.h"
#include "platform/x11/SharedMemory.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint32_t Width = 320;
constexpr std::uint32_t Height = 240;

// A picture of Width x Height: in a shared-memory segment the server writes straight into, or in private
// memory with wider rows, which a grab reaches through a copy.
struct Picture {
    std::vector<std::byte> privateBytes;
    x11::FrameTarget target;

    explicit Picture(bool shared) {
        target.width = Width;
        target.height = Height;
        if (shared) {
            target.rowPitch = Width * 4;
            target.data = x11::AttachNewSegment(target.rowPitch * Height, target.sharedMemoryId);
        } else {
            target.rowPitch = Width * 4 + 64;
            privateBytes.assign(target.rowPitch * Height, std::byte{0x5A});
            target.data = privateBytes.data();
        }
    }

    // The colours only: a depth-24 window written in place leaves the alpha bytes alone.
    std::vector<std::uint32_t> Colours() const {
        std::vector<std::uint32_t> colours;
        for (std::uint32_t y = 0; y < Height; ++y)
            for (std::uint32_t x = 0; x < Width; ++x) {
                std::uint32_t pixel;
                std::memcpy(&pixel, target.data + y * target.rowPitch + x * 4, 4);
                colours.push_back(pixel & 0xFFFFFF);
            }
        return colours;
    }
};

class WindowSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_c = xcb_connect(nullptr, nullptr);
        ASSERT_EQ(xcb_connection_has_error(m_c), 0);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        m_window = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, Width, Height, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        m_gc = xcb_generate_id(m_c);
        xcb_create_gc(m_c, m_gc, m_window, 0, nullptr);
        xcb_map_window(m_c, m_window);
        // Rows of different colours, so that a row grabbed into the wrong place shows.
        for (std::uint32_t y = 0; y < Height; y += 8)
            Fill(0x010203 * (y / 8 + 1), {0, std::int16_t(y), Width, 8});
    }

    void TearDown() override {
        if (m_c)
            xcb_disconnect(m_c);
    }

    void Fill(std::uint32_t colour, xcb_rectangle_t area) {
        xcb_change_gc(m_c, m_gc, XCB_GC_FOREGROUND, &colour);
        xcb_poly_fill_rectangle(m_c, m_window, m_gc, 1, &area);
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    }

    // Waits until the source announces a change.
    static bool Changed(x11::FrameSource& source) {
        for (int i = 0; i < 50; ++i)
            if (source.Wait(100) == x11::SourceEvent::Changed)
                return true;
        return false;
    }

    // A whole grab into a fresh picture: what every kept one must equal.
    static std::vector<std::uint32_t> WholeGrab(x11::FrameSource& source) {
        Picture fresh(false);
        EXPECT_NE(source.Grab(fresh.target, false), x11::GrabResult::Failed);
        return fresh.Colours();
    }

    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_window = 0;
    xcb_gcontext_t m_gc = 0;
};

TEST_F(WindowSourceTest, PicturesThatKeptTheirContentEqualAWholeGrabAfterSmallChangesAndAResize) {
    auto source = x11::WindowSource::Open(m_window);
    ASSERT_TRUE(source);
    Picture shared(true);
    Picture copied(false);
    ASSERT_NE(shared.target.data, nullptr);
    ASSERT_NE(source->Grab(shared.target, false), x11::GrabResult::Failed);
    ASSERT_NE(source->Grab(copied.target, false), x11::GrabResult::Failed);
    shared.target.keptContent = copied.target.keptContent = true;

    // Both pictures take the first change; only the shared one the second, so the other owes both.
    Fill(0xFF0000, {10, 100, 40, 20});
    ASSERT_TRUE(Changed(*source));
    ASSERT_NE(source->Grab(shared.target, false), x11::GrabResult::Failed);
    ASSERT_NE(source->Grab(copied.target, false), x11::GrabResult::Failed);
    EXPECT_EQ(shared.Colours(), WholeGrab(*source));
    EXPECT_EQ(copied.Colours(), shared.Colours());
    Fill(0x00FF00, {200, 30, 16, 16});
    ASSERT_TRUE(Changed(*source));
    ASSERT_NE(source->Grab(shared.target, false), x11::GrabResult::Failed);
    Fill(0x0000FF, {300, 200, 20, 40});
    ASSERT_TRUE(Changed(*source));
    ASSERT_NE(source->Grab(copied.target, false), x11::GrabResult::Failed);
    ASSERT_NE(source->Grab(shared.target, false), x11::GrabResult::Failed);
    const std::vector<std::uint32_t> whole = WholeGrab(*source);
    EXPECT_EQ(shared.Colours(), whole);
    EXPECT_EQ(copied.Colours(), whole);
    EXPECT_EQ(whole[210 * Width + 310], 0x0000FFu);
    EXPECT_EQ(whole[35 * Width + 205], 0x00FF00u);

    // Narrower and taller: the columns it left are cleared, the rows below the picture cut.
    const std::uint32_t size[] = {200, 300};
    xcb_configure_window(m_c, m_window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    Fill(0x777777, {0, 0, 200, 300});
    ASSERT_TRUE(Changed(*source));
    ASSERT_NE(source->Grab(shared.target, false), x11::GrabResult::Failed);
    ASSERT_NE(source->Grab(copied.target, false), x11::GrabResult::Failed);
    const std::vector<std::uint32_t> resized = WholeGrab(*source);
    EXPECT_EQ(shared.Colours(), resized);
    EXPECT_EQ(copied.Colours(), resized);
    EXPECT_EQ(resized[Height * Width - 1], 0u);
    EXPECT_EQ(resized[(Height - 1) * Width], 0x777777u);
}

} // namespace
