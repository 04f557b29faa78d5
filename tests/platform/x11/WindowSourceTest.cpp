// A window grabbed into pictures that keep their content, as a frame pool's textures do: after changes in a
// small area, and after a resize, each picture equals a whole grab of the window.

#include "platform/x11/WindowSource.h"
#include "platform/x11/SharedMemory.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t Width = 320;
constexpr std::uint32_t Height = 240;

// In a shared-memory segment the server writes straight into, or in private memory with wider rows, which a
// grab reaches through a copy.
struct Picture {
    std::vector<std::byte> privateBytes;
    x11::FrameTarget target{nullptr, Width * 4, Width, Height};

    explicit Picture(bool shared) {
        if (shared) {
            target.data = x11::AttachNewSegment(target.rowPitch * Height, target.sharedMemoryId);
            return;
        }
        target.rowPitch += 64;
        privateBytes.assign(target.rowPitch * Height, std::byte{0x5A});
        target.data = privateBytes.data();
    }

    // The colours only: a depth-24 window written in place leaves the alpha bytes alone.
    std::vector<std::uint32_t> Colours() const {
        std::vector<std::uint32_t> colours(std::size_t(Width) * Height);
        for (std::uint32_t y = 0; y < Height; ++y)
            std::memcpy(&colours[y * Width], target.data + y * target.rowPitch, Width * 4);
        for (std::uint32_t& colour : colours)
            colour &= 0xFFFFFF;
        return colours;
    }
};

TEST(WindowSourceTest, PicturesThatKeptTheirContentEqualAWholeGrabAfterSmallChangesAndAResize) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, Width, Height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, nullptr);
    xcb_map_window(c, window);
    auto fill = [&](std::uint32_t colour, xcb_rectangle_t area) {
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
        xcb_poly_fill_rectangle(c, window, gc, 1, &area);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    };
    // Rows of different colours, so that a row grabbed into the wrong place shows.
    for (std::uint32_t y = 0; y < Height; y += 8)
        fill(0x010203 * (y / 8 + 1), {0, std::int16_t(y), Width, 8});

    auto source = x11::WindowSource::Open(window);
    ASSERT_TRUE(source);
    auto changed = [&] {
        for (int i = 0; i < 50; ++i)
            if (source->Wait(100) == x11::SourceEvent::Changed)
                return true;
        return false;
    };
    Picture shared(true), copied(false);
    ASSERT_NE(shared.target.data, nullptr);
    auto grab = [&](Picture& picture) {
        ASSERT_NE(source->Grab(picture.target, false), x11::GrabResult::Failed);
        picture.target.keptContent = true;
    };
    auto whole = [&] {
        Picture fresh(false);
        grab(fresh);
        return fresh.Colours();
    };
    grab(shared);
    grab(copied);

    // Both pictures take the first change; only the shared one the second, so the other owes both.
    fill(0xFF0000, {10, 100, 40, 20});
    ASSERT_TRUE(changed());
    grab(shared);
    grab(copied);
    EXPECT_EQ(shared.Colours(), whole());
    EXPECT_EQ(copied.Colours(), shared.Colours());
    fill(0x00FF00, {200, 30, 16, 16});
    ASSERT_TRUE(changed());
    grab(shared);
    fill(0x0000FF, {300, 200, 20, 40});
    ASSERT_TRUE(changed());
    grab(copied);
    grab(shared);
    const std::vector<std::uint32_t> expected = whole();
    EXPECT_EQ(shared.Colours(), expected);
    EXPECT_EQ(copied.Colours(), expected);
    EXPECT_EQ(expected[35 * Width + 205], 0x00FF00u);

    // Narrower and taller: the columns it left are cleared, the rows below the picture cut.
    const std::uint32_t size[] = {200, 300};
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    fill(0x777777, {0, 0, 200, 300});
    ASSERT_TRUE(changed());
    grab(shared);
    grab(copied);
    const std::vector<std::uint32_t> resized = whole();
    EXPECT_EQ(shared.Colours(), resized);
    EXPECT_EQ(copied.Colours(), resized);
    EXPECT_EQ(resized[Height * Width - 1], 0u);
    EXPECT_EQ(resized[(Height - 1) * Width], 0x777777u);
    xcb_disconnect(c);
}

} // namespace
