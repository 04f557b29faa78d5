// An application that records itself with pyx-video and crashes: the integration a crash reporter needs, in
// one file. It shows a window that counts its frames (the number drawn as 16 squares along the top edge, bit i
// at x = 20*i, white for 1), plays a tone, and after --crash-after seconds (or at any key) writes through a
// null pointer. Its SIGSEGV handler asks the recorder to save, gives it a moment, and lets the crash go on.
//
//   pyx-crash-example --crash-after SECONDS --file NAME [--duration SECONDS]

#include <pyx-video-client.h>

#include <pulse/error.h>
#include <pulse/simple.h>
#include <xcb/xcb.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kName = "pyx-crash-example";
constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kSquare = 20;
constexpr int kBits = 16;
constexpr double kFps = 60;

// --- The integration: a recorder started at start-up, saved from the crash handler. ----------------------

pyx_video_recorder* g_recorder = nullptr;
volatile std::sig_atomic_t g_frame = 0; // the last frame on screen, for the handler's report

// Digits without the heap or stdio.
void AppendNumber(char* line, int& n, std::uint64_t value) {
    char digits[24];
    int d = 0;
    for (; d == 0 || value != 0; value /= 10)
        digits[d++] = char('0' + value % 10);
    while (d > 0)
        line[n++] = digits[--d];
}

// Only async-signal-safe calls here: the heap and stdio may be what crashed. The crash time is read on the
// clock of NAME.json's "monotonic_ns", so the report can be lined up with the recording.
void OnCrash(int) {
    timespec crashed{};
    clock_gettime(CLOCK_MONOTONIC, &crashed);
    pyx_video_save(g_recorder);
    char line[128];
    const char prefix[] = "pyx-crash-example: crashed at frame ";
    const char at[] = ", monotonic_ns ";
    int n = sizeof prefix - 1;
    std::memcpy(line, prefix, sizeof prefix - 1);
    AppendNumber(line, n, unsigned(g_frame));
    std::memcpy(line + n, at, sizeof at - 1);
    n += sizeof at - 1;
    AppendNumber(line, n, std::uint64_t(crashed.tv_sec) * 1'000'000'000 + std::uint64_t(crashed.tv_nsec));
    line[n++] = '\n';
    (void)!write(STDERR_FILENO, line, std::size_t(n));
    // The window stays up while the recorder stops its capture; then the crash goes on (SA_RESETHAND gave the
    // signal its default action back, and returning runs the faulting instruction again).
    const timespec grace{1, 0};
    nanosleep(&grace, nullptr);
}

bool StartRecorder(const char* file, unsigned duration) {
    pyx_video_options options;
    pyx_video_options_init(&options); // records this process
    options.file = file;
    options.duration = duration;
    char why[256];
    g_recorder = pyx_video_start(&options, why, sizeof why);
    if (g_recorder == nullptr) {
        std::fprintf(stderr, "%s: %s\n", kName, why);
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnCrash;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, nullptr);
    return true;
}

// --- The application: a window, a tone, a crash. --------------------------------------------------------

// A 440 Hz sine on the default sound sink, in 10 ms blocks, until the process ends.
void PlayTone() {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 1};
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, kName, PA_STREAM_PLAYBACK, nullptr, "tone", &spec, nullptr,
                                      nullptr, &error);
    if (stream == nullptr) {
        std::fprintf(stderr, "%s: no tone: %s\n", kName, pa_strerror(error));
        return;
    }
    std::vector<float> block(480);
    for (std::uint64_t sample = 0;;) {
        for (float& value : block)
            value = 0.3f * float(std::sin(2 * M_PI * 440.0 * double(sample++) / 48000.0));
        if (pa_simple_write(stream, block.data(), block.size() * sizeof(float), &error) < 0)
            break;
    }
    pa_simple_free(stream);
}

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

class CounterWindow {
public:
    explicit CounterWindow(xcb_connection_t* c) : m_c(c) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        m_window = xcb_generate_id(c);
        const std::uint32_t values[] = {screen->black_pixel, XCB_EVENT_MASK_KEY_PRESS};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, kWidth, kHeight, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                          values);
        const std::string title = kName;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            title.size(), title.data());
        m_gc = xcb_generate_id(c);
        xcb_create_gc(c, m_gc, m_window, 0, nullptr);
        xcb_map_window(c, m_window);
    }

    // A background that changes every frame, and the frame number in squares.
    void Draw(std::uint32_t frame) {
        Fill((frame * 3 & 0x7F) << 16 | (frame * 5 & 0x7F) << 8 | (frame * 7 & 0x7F), 0, 0, kWidth, kHeight);
        for (int bit = 0; bit < kBits; ++bit)
            Fill((frame >> bit & 1) ? 0xFFFFFF : 0x000000, bit * kSquare, 0, kSquare, kSquare);
        // Wait until the server drew it, so the counter on screen is the one reported.
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    }

    bool KeyPressed() {
        bool pressed = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_c)) {
            pressed = pressed || (event->response_type & 0x7F) == XCB_KEY_PRESS;
            std::free(event);
        }
        return pressed;
    }

private:
    void Fill(std::uint32_t colour, int x, int y, int w, int h) {
        xcb_change_gc(m_c, m_gc, XCB_GC_FOREGROUND, &colour);
        const xcb_rectangle_t rectangle{std::int16_t(x), std::int16_t(y), std::uint16_t(w), std::uint16_t(h)};
        xcb_poly_fill_rectangle(m_c, m_window, m_gc, 1, &rectangle);
    }

    xcb_connection_t* m_c;
    xcb_window_t m_window = 0;
    xcb_gcontext_t m_gc = 0;
};

void Crash() {
    // Volatile both ways: the compiler may neither know the pointer is null nor drop the store.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

int Usage(const char* error) {
    std::fprintf(stderr, "%s: %s\nusage: %s --crash-after SECONDS --file NAME [--duration SECONDS]\n", kName,
                 error, kName);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    double crashAfter = -1;
    unsigned duration = 0;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (i + 1 >= argc)
            return Usage(("missing value of " + argument).c_str());
        char* end = nullptr;
        if (argument == "--crash-after") {
            crashAfter = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(crashAfter >= 0))
                return Usage("--crash-after needs a number of seconds");
        } else if (argument == "--duration") {
            duration = unsigned(std::strtoul(argv[++i], &end, 10));
            if (*end != '\0')
                return Usage("--duration needs a number of seconds");
        } else if (argument == "--file") {
            file = argv[++i];
        } else {
            return Usage(("unknown option " + argument).c_str());
        }
    }
    if (file == nullptr || crashAfter < 0)
        return Usage("--crash-after and --file are required");

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "%s: cannot open the display\n", kName);
        return 1;
    }
    // The window is on screen before the recorder looks for it.
    CounterWindow window(c);
    window.Draw(0);
    if (!StartRecorder(file, duration))
        return 1;
    std::thread tone(PlayTone);

    const double start = Now();
    for (std::uint32_t frame = 1;; ++frame) {
        window.Draw(frame);
        g_frame = std::sig_atomic_t(frame);
        if ((crashAfter > 0 && Now() - start >= crashAfter) || window.KeyPressed())
            Crash();
        const double next = start + (frame + 1) / kFps;
        const double wait = next - Now();
        if (wait > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    }
}
