#include "TestWindowProcess.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <xcb/xcb.h>

extern char** environ;

namespace {

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t InternAtom(xcb_connection_t* c, const char* name) {
    const ReplyPtr<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

bool HasProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
    const ReplyPtr<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, XCB_ATOM_ANY, 0, 1), nullptr),
        &std::free);
    return reply && reply->type != XCB_ATOM_NONE;
}

// Asks the window manager for something it answers in turn (a new window's frame extents), so that whatever
// reached it before, such as the end of a killed program's windows, has been handled. Nothing without one.
void SyncWithWindowManager() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) == 0) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        if (HasProperty(c, screen->root, InternAtom(c, "_NET_SUPPORTING_WM_CHECK"))) {
            const xcb_window_t probe = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 1, 1, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
            xcb_client_message_event_t request{};
            request.response_type = XCB_CLIENT_MESSAGE;
            request.format = 32;
            request.window = probe;
            request.type = InternAtom(c, "_NET_REQUEST_FRAME_EXTENTS");
            xcb_send_event(c, 0, screen->root,
                           XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                           reinterpret_cast<const char*>(&request));
            xcb_flush(c);
            const xcb_atom_t extents = InternAtom(c, "_NET_FRAME_EXTENTS");
            WaitFor([&] { return HasProperty(c, probe, extents); });
        }
    }
    xcb_disconnect(c);
}

} // namespace

TestWindowProcess::TestWindowProcess() {
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(PYX_TEST_WINDOW_BINARY), nullptr};
    const int result = posix_spawn(&m_pid, PYX_TEST_WINDOW_BINARY, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_toChild = in[1];
    m_fromChild = out[0];
    if (result != 0)
        throw std::runtime_error("cannot start the test window program");
}

TestWindowProcess::~TestWindowProcess() {
    Kill();
    close(m_toChild);
    close(m_fromChild);
}

void TestWindowProcess::Kill() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    SyncWithWindowManager();
}

std::string TestWindowProcess::Command(const std::string& line) {
    const std::string text = line + "\n";
    if (write(m_toChild, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throw std::runtime_error("test window program is gone");
    for (;;) {
        const auto end = m_buffered.find('\n');
        if (end != std::string::npos) {
            std::string answer = m_buffered.substr(0, end);
            m_buffered.erase(0, end + 1);
            return answer;
        }
        char buffer[1024];
        const ssize_t count = read(m_fromChild, buffer, sizeof(buffer));
        if (count <= 0)
            throw std::runtime_error("test window program did not answer: " + line);
        m_buffered.append(buffer, static_cast<std::size_t>(count));
    }
}

std::uint32_t TestWindowProcess::Create(const std::string& arguments) {
    const std::string answer = Command("create " + arguments);
    const auto space = answer.find(" 0x");
    if (space == std::string::npos)
        throw std::runtime_error("create failed: " + answer);
    return static_cast<std::uint32_t>(std::stoul(answer.substr(space + 1), nullptr, 16));
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
