// pyx-demo-target as the demo and the benchmarks use it: its command line, the frame numbers other programs
// read back from its window, its self-iconifying and how it ends.

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// The program with its standard output and error on pipes.
class Target {
public:
    explicit Target(std::vector<std::string> args) {
        int out[2];
        int err[2];
        EXPECT_EQ(pipe(out), 0);
        EXPECT_EQ(pipe(err), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        args.insert(args.begin(), PYX_DEMO_TARGET_BINARY);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }

    ~Target() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
        close(m_err);
    }

    pid_t Pid() const { return m_pid; }

    // The next line on standard output, or nothing when none comes within `timeout` or the output ends.
    std::optional<std::string> Line(std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (const auto end = m_lines.find('\n'); end != std::string::npos) {
                std::string line = m_lines.substr(0, end);
                m_lines.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{m_out, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, int(left.count())) <= 0)
                return std::nullopt;
            char buffer[256];
            const ssize_t count = read(m_out, buffer, sizeof(buffer));
            if (count <= 0)
                return std::nullopt;
            m_lines.append(buffer, std::size_t(count));
        }
    }

    // Waits for the exit (killing the program after `timeout`) and returns its status, or -1 when killed.
    int Wait(std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                m_pid = -1;
                return -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Errors() {
        std::string text;
        char buffer[256];
        for (ssize_t count; (count = read(m_err, buffer, sizeof(buffer))) > 0;)
            text.append(buffer, std::size_t(count));
        return text;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_lines;
};

xcb_window_t ReadyWindow(Target& target) {
    const auto line = target.Line();
    if (!line || line->rfind("ready 0x", 0) != 0) {
        ADD_FAILURE() << "no ready line: " << line.value_or("(none)");
        return 0;
    }
    return xcb_window_t(std::stoul(line->substr(6), nullptr, 16));
}

class DemoTargetTest : public ::testing::Test {
protected:
    // One connection for all tests: the server resets whenever its last client leaves, and refuses
    // connections while it does.
    static void SetUpTestSuite() { m_c = xcb_connect(nullptr, nullptr); }
    static void TearDownTestSuite() { xcb_disconnect(m_c); }
    void SetUp() override { ASSERT_EQ(xcb_connection_has_error(m_c), 0) << "no display"; }

    // The window's pixels as 0xRRGGBB, row by row.
    std::vector<std::uint32_t> Grab(xcb_window_t window, std::uint16_t width, std::uint16_t height) {
        auto* image = xcb_get_image_reply(
            m_c, xcb_get_image(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, width, height, ~0u), nullptr);
        std::vector<std::uint32_t> pixels;
        if (image == nullptr) {
            ADD_FAILURE() << "cannot read the window";
            return pixels;
        }
        pixels.resize(std::size_t(width) * height);
        std::memcpy(pixels.data(), xcb_get_image_data(image), pixels.size() * 4);
        std::free(image);
        for (auto& pixel : pixels)
            pixel &= 0xFFFFFF;
        return pixels;
    }

    // The number the squares show, or nothing when a square is neither white nor black throughout.
    static std::optional<unsigned> Number(const std::vector<std::uint32_t>& pixels, int width) {
        unsigned number = 0;
        for (int bit = 0; bit < 16; ++bit) {
            const std::uint32_t first = pixels[std::size_t(bit) * 32];
            if (first != 0xFFFFFF && first != 0)
                return std::nullopt;
            for (int y = 0; y < 32; ++y)
                for (int x = bit * 32; x < bit * 32 + 32; ++x)
                    if (pixels[std::size_t(y) * width + x] != first)
                        return std::nullopt;
            number |= (first == 0xFFFFFF ? 1u : 0u) << bit;
        }
        return number;
    }

    std::uint32_t Cardinal(xcb_window_t window, const char* name) {
        auto* atom = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, std::strlen(name), name), nullptr);
        auto* reply = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, window, atom->atom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        std::uint32_t value = 0;
        if (reply != nullptr && xcb_get_property_value_length(reply) == 4)
            std::memcpy(&value, xcb_get_property_value(reply), 4);
        std::free(reply);
        std::free(atom);
        return value;
    }

    static inline xcb_connection_t* m_c = nullptr;
};

TEST_F(DemoTargetTest, RefusesBadArgumentsWithExitStatus2) {
    const std::vector<std::vector<std::string>> cases = {{"--size", "640"},
                                                         {"--size", "0x10"},
                                                         {"--fps", "0"},
                                                         {"--fps", "abc"},
                                                         {"--tone", "-1"},
                                                         {"--frames", "1.5"},
                                                         {"--frames"},
                                                         {"--iconified-for", "1"},
                                                         {"--iconify-every", "1", "--iconified-for", "2"},
                                                         {"--colour", "red"},
                                                         {"--changing", "0x5"},
                                                         {"--still", "--changing", "10x10"},
                                                         {"extra"}};
    for (const auto& args : cases) {
        Target target(args);
        EXPECT_EQ(target.Wait(), 2) << args[0];
        EXPECT_NE(target.Errors().find("pyx-demo-target: "), std::string::npos) << args[0];
        EXPECT_FALSE(target.Line(100ms)) << args[0];
    }
}

TEST_F(DemoTargetTest, WindowShowsEveryFrameWholeWithItsNumber) {
    Target target({"--size=600x100", "--fps", "30"});
    const xcb_window_t window = ReadyWindow(target);
    ASSERT_NE(window, 0u);
    EXPECT_EQ(Cardinal(window, "_NET_WM_PID"), std::uint32_t(target.Pid()));
    auto geometry = xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr);
    ASSERT_NE(geometry, nullptr);
    EXPECT_EQ(geometry->width, 600);
    EXPECT_EQ(geometry->height, 100);
    std::free(geometry);

    // Each frame is copied to the window in one request, so every read shows a whole frame.
    std::optional<unsigned> last;
    std::vector<std::uint32_t> previous;
    int backgroundChanges = 0;
    for (int i = 0; i < 12; ++i) {
        const auto pixels = Grab(window, 600, 100);
        ASSERT_FALSE(pixels.empty());
        const auto number = Number(pixels, 600);
        ASSERT_TRUE(number) << "read " << i;
        if (last) {
            EXPECT_GT(*number, *last) << "read " << i;
        }
        // Right of the squares and below them: the background, which changes every frame.
        if (!previous.empty() && pixels[599] != previous[599] &&
            pixels[99 * 600 + 599] != previous[99 * 600 + 599])
            ++backgroundChanges;
        last = number;
        previous = pixels;
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_EQ(backgroundChanges, 11);
}

// A still window keeps its one frame; a mostly still one redraws only its number and its changing area.
TEST_F(DemoTargetTest, StillAndMostlyStillWindowsChangeOnlyWhatTheySay) {
    Target still({"--size=600x100", "--still"});
    const xcb_window_t stillWindow = ReadyWindow(still);
    ASSERT_NE(stillWindow, 0u);
    const auto first = Grab(stillWindow, 600, 100);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Grab(stillWindow, 600, 100), first);
    EXPECT_EQ(Number(first, 600), 1u);

    Target changing({"--size=600x100", "--fps", "30", "--changing", "100x60"});
    const xcb_window_t window = ReadyWindow(changing);
    ASSERT_NE(window, 0u);
    std::this_thread::sleep_for(100ms);
    const auto before = Grab(window, 600, 100);
    std::this_thread::sleep_for(300ms);
    const auto after = Grab(window, 600, 100);
    ASSERT_TRUE(Number(before, 600) && Number(after, 600));
    EXPECT_GT(*Number(after, 600), *Number(before, 600));
    EXPECT_NE(after[50 * 600 + 50], before[50 * 600 + 50]) << "inside the changing area";
    EXPECT_EQ(after[80 * 600 + 300], before[80 * 600 + 300]) << "outside it";
    EXPECT_EQ(after[99 * 600 + 599], before[99 * 600 + 599]) << "outside it";
}

TEST_F(DemoTargetTest, EndsAfterItsFramesOrOnTermination) {
    Target counted({"--frames", "20", "--fps", "100"});
    EXPECT_NE(ReadyWindow(counted), 0u);
    EXPECT_EQ(counted.Wait(), 0);

    for (const int signal : {SIGTERM, SIGINT}) {
        Target endless({});
        ASSERT_NE(ReadyWindow(endless), 0u);
        kill(endless.Pid(), signal);
        EXPECT_EQ(endless.Wait(), 0) << signal;
    }
}

// Without a window manager nothing can iconify the window, so it goes away and comes back by itself.
TEST_F(DemoTargetTest, IconifiesAndRestoresItselfOnSchedule) {
    Target target({"--iconify-every", "1", "--iconified-for", "0.5"});
    const xcb_window_t window = ReadyWindow(target);
    ASSERT_NE(window, 0u);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(target.Line(2s).value_or("(none)"), "iconified");
        auto attributes =
            xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, window), nullptr);
        ASSERT_NE(attributes, nullptr);
        EXPECT_NE(attributes->map_state, XCB_MAP_STATE_VIEWABLE);
        std::free(attributes);
        EXPECT_EQ(target.Line(2s).value_or("(none)"), "restored");
        // Drawing goes on after the window is back.
        const auto first = Number(Grab(window, 600, 32), 600);
        std::this_thread::sleep_for(200ms);
        const auto second = Number(Grab(window, 600, 32), 600);
        ASSERT_TRUE(first && second);
        EXPECT_GT(*second, *first);
    }
}

} // namespace
