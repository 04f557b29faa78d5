// An application to record: one window that redraws itself completely every frame (or, with --still, never
// after its first, or, with --changing, only a corner), optionally a tone on the default sound sink,
// optionally iconifying itself now and then. Each frame shows its number (mod 65536) as
// 16 squares of 32x32 pixels along the top edge, bit i at x = 32*i, white for 1 and black for 0, so a
// recording can be checked for lost frames. See kDemoHelp for the command line.

#include "DemoOptions.h"
#include "TonePlayer.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kName = "pyx-demo-target";
constexpr int kBits = 16;
constexpr int kSquare = 32;

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

std::int64_t Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::int64_t Seconds(double s) { return std::llround(s * 1e9); }

// Sleeps until `deadline` on the monotonic clock; a stop signal cuts it short.
void SleepUntil(std::int64_t deadline) {
    const timespec ts{time_t(deadline / 1'000'000'000), long(deadline % 1'000'000'000)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

class DemoWindow {
public:
    DemoWindow(xcb_connection_t* c, const DemoOptions& options) : m_c(c), m_options(options) {
        m_screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        m_window = xcb_generate_id(c);
        const std::uint32_t values[] = {m_screen->black_pixel,
                                        XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, m_screen->root, 0, 0, options.width,
                          options.height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        SetProperties();
        m_frame = xcb_generate_id(c);
        xcb_create_pixmap(c, m_screen->root_depth, m_frame, m_window, options.width, options.height);
        m_background = MakeGc(0);
        m_white = MakeGc(0xFFFFFF);
        m_black = MakeGc(0x000000);
    }

    xcb_window_t Id() const { return m_window; }

    void Map() { xcb_map_window(m_c, m_window); }

    // With a window manager the window asks it to iconify (as a user's click would); without one nothing
    // could iconify it, so it unmaps itself.
    void Iconify() {
        if (!WindowManagerRuns()) {
            xcb_unmap_window(m_c, m_window);
            return;
        }
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = m_window;
        event.type = Atom("WM_CHANGE_STATE");
        event.data.data32[0] = 3; // IconicState
        xcb_send_event(m_c, 0, m_screen->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }

    // Draws the frame off screen and copies it to the window in one request, so that nobody reading the
    // window sees half a frame; then waits until the server has drawn it, so that frames reach the screen one
    // by one instead of in batches.
    void Draw(std::uint64_t frame) {
        const std::uint16_t w = m_options.width;
        const std::uint16_t h = m_options.height;
        if (m_options.changingWidth != 0 && m_drawnOnce) {
            DrawChanging(frame);
            return;
        }
        m_drawnOnce = true;
        const std::uint32_t background =
            ((frame * 3) & 0xFF) << 16 | ((frame * 5) & 0xFF) << 8 | ((frame * 7) & 0xFF);
        Fill(m_background, background, {0, 0, w, h});
        // A block that crosses the window every two seconds at 60 frames/s, in the opposite colour.
        const int blockWidth = std::max(w / 6, 1);
        const int travel = w + blockWidth;
        const int x = int((frame * std::uint64_t(travel)) / 120 % std::uint64_t(travel)) - blockWidth;
        Fill(m_background, ~background & 0xFFFFFF,
             {std::int16_t(x), std::int16_t(h / 3), std::uint16_t(blockWidth), std::uint16_t(h / 3)});
        DrawNumber(frame);
        Show({0, 0, w, h});
    }

private:
    // Only the number squares and the changing area: the rest of the window keeps its first frame.
    void DrawChanging(std::uint64_t frame) {
        const std::uint32_t colour =
            ((frame * 3) & 0xFF) << 16 | ((frame * 5) & 0xFF) << 8 | ((frame * 7) & 0xFF);
        const xcb_rectangle_t area{0, 0, m_options.changingWidth, m_options.changingHeight};
        Fill(m_background, colour, area);
        DrawNumber(frame);
        // One copy of both, as for a whole frame: between two a reader could see the new area beside the old
        // number, and each copy is a change of its own.
        Show({0, 0, std::max(area.width, std::uint16_t(kBits * kSquare)),
              std::max(area.height, std::uint16_t(kSquare))});
    }

    void DrawNumber(std::uint64_t frame) {
        std::vector<xcb_rectangle_t> ones, zeros;
        for (int bit = 0; bit < kBits; ++bit) {
            const xcb_rectangle_t square{std::int16_t(bit * kSquare), 0, kSquare, kSquare};
            ((frame >> bit) & 1 ? ones : zeros).push_back(square);
        }
        xcb_poly_fill_rectangle(m_c, m_frame, m_white, ones.size(), ones.data());
        xcb_poly_fill_rectangle(m_c, m_frame, m_black, zeros.size(), zeros.data());
    }

    void Show(xcb_rectangle_t area) {
        xcb_copy_area(m_c, m_frame, m_window, m_black, area.x, area.y, area.x, area.y, area.width,
                      area.height);
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    }

    xcb_atom_t Atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, std::strlen(name), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    void SetProperties() {
        const std::string title = "pyx demo target";
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            title.size(), title.data());
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_window, Atom("_NET_WM_NAME"), Atom("UTF8_STRING"),
                            8, title.size(), title.data());
        const char wmClass[] = "pyx-demo-target\0pyx-demo-target";
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            sizeof(wmClass), wmClass);
        const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_window, Atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32,
                            1, &pid);
        char host[256] = {};
        if (gethostname(host, sizeof(host) - 1) == 0)
            xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLIENT_MACHINE,
                                XCB_ATOM_STRING, 8, std::strlen(host), host);
        // User-specified position and size, so a window manager leaves the window at 0,0.
        const std::uint32_t hints[18] = {1u | 2u, 0, 0, m_options.width, m_options.height};
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
    }

    xcb_gcontext_t MakeGc(std::uint32_t color) {
        const xcb_gcontext_t gc = xcb_generate_id(m_c);
        const std::uint32_t values[] = {color, 0};
        xcb_create_gc(m_c, gc, m_frame, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, values);
        return gc;
    }

    void Fill(xcb_gcontext_t gc, std::uint32_t color, xcb_rectangle_t rect) {
        xcb_change_gc(m_c, gc, XCB_GC_FOREGROUND, &color);
        xcb_poly_fill_rectangle(m_c, m_frame, gc, 1, &rect);
    }

    bool WindowManagerRuns() {
        const xcb_atom_t check = Atom("_NET_SUPPORTING_WM_CHECK");
        auto* reply = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, m_screen->root, check, XCB_ATOM_WINDOW, 0, 1), nullptr);
        const bool runs = reply != nullptr && xcb_get_property_value_length(reply) == 4;
        std::free(reply);
        return runs;
    }

    xcb_connection_t* m_c;
    const DemoOptions& m_options;
    xcb_screen_t* m_screen = nullptr;
    xcb_window_t m_window = 0;
    xcb_pixmap_t m_frame = 0; // the frame being drawn
    xcb_gcontext_t m_background = 0;
    xcb_gcontext_t m_white = 0;
    xcb_gcontext_t m_black = 0;
    bool m_drawnOnce = false;
};

void Say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// Reads the window's map and unmap notifications; `mapped` follows them. False once the connection is gone.
bool HandleEvents(xcb_connection_t* c, xcb_window_t window, bool* mapped) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
        const std::uint8_t type = event->response_type & 0x7F;
        if (type == XCB_MAP_NOTIFY && reinterpret_cast<xcb_map_notify_event_t*>(event)->window == window)
            *mapped = true;
        else if (type == XCB_UNMAP_NOTIFY &&
                 reinterpret_cast<xcb_unmap_notify_event_t*>(event)->window == window)
            *mapped = false;
        std::free(event);
    }
    return !xcb_connection_has_error(c);
}

int LostDisplay() {
    std::fprintf(stderr, "%s: lost the connection to the display\n", kName);
    return 1;
}

int Run(const DemoOptions& options) {
    const char* display = std::getenv("DISPLAY");
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        if (display == nullptr || *display == '\0')
            std::fprintf(stderr, "%s: no display (DISPLAY is not set)\n", kName);
        else
            std::fprintf(stderr, "%s: cannot open the display %s\n", kName, display);
        xcb_disconnect(c);
        return 2;
    }
    TonePlayer tone(kName);
    if (options.toneHz > 0) {
        const std::string error = tone.Play(options.toneHz);
        if (!error.empty()) {
            std::fprintf(stderr, "%s: cannot play the tone: %s\n", kName, error.c_str());
            xcb_disconnect(c);
            return 2;
        }
    }
    DemoWindow window(c, options);
    window.Map();
    xcb_flush(c);

    bool mapped = false;
    while (!mapped && !g_stop) {
        if (!HandleEvents(c, window.Id(), &mapped))
            return LostDisplay();
        if (!mapped)
            SleepUntil(Now() + 5'000'000);
    }
    std::uint64_t drawn = 0;
    if (!g_stop) {
        // A still window shows number 1: squares all black read as a window missing from the picture.
        window.Draw(options.still ? 1 : drawn);
        ++drawn;
        char ready[32];
        std::snprintf(ready, sizeof(ready), "ready 0x%x", window.Id());
        Say(ready);
    }

    // Frame k is due at base + k * period; after falling more than a frame behind the schedule starts anew
    // rather than drawing a burst to catch up.
    // A still window only wakes now and then, for the iconify schedule and the stop.
    const double period = options.still ? 1e9 : 1e9 / options.fps;
    std::int64_t base = Now();
    std::uint64_t slot = 1;
    const std::int64_t start = base;
    std::int64_t nextIconify = options.iconifyEvery > 0 ? start + Seconds(options.iconifyEvery) : INT64_MAX;
    std::int64_t restoreAt = INT64_MAX;
    bool wantIconic = false;
    bool saidIconic = false;
    while (!g_stop && (options.frames == 0 || drawn < options.frames)) {
        const std::int64_t due = base + std::llround(double(slot) * period);
        SleepUntil(std::min({due, nextIconify, restoreAt}));
        if (g_stop)
            break;
        const std::int64_t now = Now();
        if (now >= nextIconify) {
            window.Iconify();
            wantIconic = true;
            restoreAt = nextIconify + Seconds(options.iconifiedFor);
            nextIconify += Seconds(options.iconifyEvery);
        }
        if (now >= restoreAt) {
            window.Map();
            wantIconic = false;
            restoreAt = INT64_MAX;
        }
        if (now >= due) {
            if (!options.still)
                window.Draw(drawn++);
            ++slot;
            if (now > due + std::llround(period)) {
                base = now;
                slot = 1;
            }
        }
        xcb_flush(c);
        if (!HandleEvents(c, window.Id(), &mapped))
            return LostDisplay();
        if (wantIconic && !mapped && !saidIconic) {
            Say("iconified");
            saidIconic = true;
        } else if (!wantIconic && mapped && saidIconic) {
            Say("restored");
            saidIconic = false;
        }
    }
    tone.Stop();
    xcb_disconnect(c);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    DemoOptions options;
    const std::string error = ParseDemoOptions(std::vector<std::string>(argv + 1, argv + argc), &options);
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", kName, error.c_str(), kDemoSynopsis);
        return 2;
    }
    if (options.help) {
        std::fputs(kDemoSynopsis, stdout);
        std::fputs(kDemoHelp, stdout);
        return 0;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return Run(options);
}
