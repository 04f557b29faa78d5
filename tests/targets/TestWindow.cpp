// A small X11 client that tests drive through its standard input, one command per line, each answered with
// one line: it creates and changes windows the way applications do, and sets RandR monitors.
//
//   create NAME W H X Y RRGGBB [hidden|dialog|override]   → "NAME 0xID"
//   child PARENT NAME W H X Y RRGGBB                        → "NAME 0xID"
//   color NAME RRGGBB | quadrants NAME | animate NAME
//   map NAME | unmap NAME | iconify NAME | activate NAME | move NAME X Y W H | destroy NAME
//   monitors NAME:X,Y,WxH[;NAME:X,Y,WxH...]  (the first one takes the screen's output) | monitors-delete NAME
//   sync
//   tone HZ  a sine of HZ on the default sound sink (or a change to HZ), "ok" once it plays | tone 0  stop
//   child-tone HZ  the same played by a child process (pyx-test-tone), replacing any earlier one | child-tone
//   0
// Answers "ok" or "error TEXT". The sound server is only contacted by "tone".

#include "TonePlayer.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

xcb_connection_t* g_c = nullptr;
xcb_screen_t* g_screen = nullptr;

struct Window {
    xcb_window_t id = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint32_t color = 0;
    bool quadrants = false;
    bool animate = false;
};

std::map<std::string, Window> g_windows;
std::uint32_t g_frame = 0;
TonePlayer g_tone("pyx-test-window");
pid_t g_toneChild = -1;

xcb_atom_t Atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(g_c, xcb_intern_atom(g_c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

void Fill(xcb_window_t window, std::uint32_t color, std::int16_t x, std::int16_t y, std::uint16_t w,
          std::uint16_t h) {
    const xcb_gcontext_t gc = xcb_generate_id(g_c);
    xcb_create_gc(g_c, gc, window, XCB_GC_FOREGROUND, &color);
    const xcb_rectangle_t rect{x, y, w, h};
    xcb_poly_fill_rectangle(g_c, window, gc, 1, &rect);
    xcb_free_gc(g_c, gc);
}

// Quadrants: red, green / blue, white; animation: a colour that changes every frame.
void Draw(const Window& w) {
    if (w.quadrants) {
        const std::uint16_t hw = w.width / 2;
        const std::uint16_t hh = w.height / 2;
        Fill(w.id, 0xFF0000, 0, 0, hw, hh);
        Fill(w.id, 0x00FF00, hw, 0, w.width - hw, hh);
        Fill(w.id, 0x0000FF, 0, hh, hw, w.height - hh);
        Fill(w.id, 0xFFFFFF, hw, hh, w.width - hw, w.height - hh);
    } else if (w.animate) {
        Fill(w.id, (g_frame * 0x010305u) & 0xFFFFFF, 0, 0, w.width, w.height);
    } else {
        Fill(w.id, w.color, 0, 0, w.width, w.height);
    }
}

void SendToRoot(xcb_window_t window, const char* type, std::uint32_t d0, std::uint32_t d1) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom(type);
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    xcb_send_event(g_c, 0, g_screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

std::string Create(std::istringstream& in, xcb_window_t parent, const std::string& name) {
    int w, h, x, y;
    std::string color, mode;
    in >> w >> h >> x >> y >> color >> mode;
    Window window;
    window.id = xcb_generate_id(g_c);
    window.width = static_cast<std::uint16_t>(w);
    window.height = static_cast<std::uint16_t>(h);
    window.color = static_cast<std::uint32_t>(std::stoul(color, nullptr, 16));
    const std::uint32_t values[] = {window.color, mode == "override" ? 1u : 0u, XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(g_c, XCB_COPY_FROM_PARENT, window.id, parent, x, y, window.width, window.height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, g_screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_change_property(g_c, XCB_PROP_MODE_REPLACE, window.id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        name.size(), name.data());
    xcb_change_property(g_c, XCB_PROP_MODE_REPLACE, window.id, Atom("_NET_WM_NAME"), Atom("UTF8_STRING"), 8,
                        name.size(), name.data());
    const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
    xcb_change_property(g_c, XCB_PROP_MODE_REPLACE, window.id, Atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1,
                        &pid);
    // Placed where asked, even under a window manager.
    const std::uint32_t hints[18] = {1u | 2u | 4u | 8u, std::uint32_t(x), std::uint32_t(y), std::uint32_t(w),
                                     std::uint32_t(h)};
    xcb_change_property(g_c, XCB_PROP_MODE_REPLACE, window.id, XCB_ATOM_WM_NORMAL_HINTS,
                        XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
    if (mode == "dialog") {
        const xcb_atom_t type = Atom("_NET_WM_WINDOW_TYPE_DIALOG");
        xcb_change_property(g_c, XCB_PROP_MODE_REPLACE, window.id, Atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                            32, 1, &type);
    }
    if (mode != "hidden")
        xcb_map_window(g_c, window.id);
    g_windows[name] = window;
    char text[64];
    std::snprintf(text, sizeof(text), "%s 0x%x", name.c_str(), window.id);
    return text;
}

// xcb_randr_set_monitor of libxcb 1.15 sends uninitialised bytes, so the request is put together here.
bool SendSetMonitor(const std::vector<std::uint8_t>& monitorInfo) {
    std::vector<std::uint8_t> request(sizeof(xcb_randr_set_monitor_request_t));
    auto* header = reinterpret_cast<xcb_randr_set_monitor_request_t*>(request.data());
    header->window = g_screen->root;
    request.insert(request.end(), monitorInfo.begin(), monitorInfo.end());
    iovec parts[3] = {};
    parts[2].iov_base = request.data();
    parts[2].iov_len = request.size();
    xcb_protocol_request_t info{1, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
    const xcb_void_cookie_t cookie{xcb_send_request(g_c, XCB_REQUEST_CHECKED, parts + 2, &info)};
    xcb_generic_error_t* error = xcb_request_check(g_c, cookie);
    if (error != nullptr)
        std::fprintf(stderr, "SetMonitor refused: error %d, value 0x%x\n", error->error_code,
                     error->resource_id);
    std::free(error);
    return error == nullptr;
}

std::string SetMonitors(const std::string& spec) {
    auto* resources = xcb_randr_get_screen_resources_current_reply(
        g_c, xcb_randr_get_screen_resources_current(g_c, g_screen->root), nullptr);
    if (resources == nullptr || xcb_randr_get_screen_resources_current_outputs_length(resources) == 0)
        return "error no RandR output";
    const xcb_randr_output_t output = xcb_randr_get_screen_resources_current_outputs(resources)[0];
    std::free(resources);
    std::istringstream in(spec);
    std::string item;
    bool first = true;
    while (std::getline(in, item, ';')) {
        char name[64];
        int x, y, w, h;
        if (std::sscanf(item.c_str(), "%63[^:]:%d,%d,%dx%d", name, &x, &y, &w, &h) != 5)
            return "error bad monitor " + item;
        std::vector<std::uint8_t> buffer(sizeof(xcb_randr_monitor_info_t) + 4);
        auto* info = reinterpret_cast<xcb_randr_monitor_info_t*>(buffer.data());
        info->name = Atom(name);
        info->primary = first;
        info->automatic = 0;
        info->nOutput = first ? 1 : 0;
        info->x = static_cast<std::int16_t>(x);
        info->y = static_cast<std::int16_t>(y);
        info->width = static_cast<std::uint16_t>(w);
        info->height = static_cast<std::uint16_t>(h);
        info->width_in_millimeters = static_cast<std::uint32_t>(w / 4);
        info->height_in_millimeters = static_cast<std::uint32_t>(h / 4);
        if (first)
            std::memcpy(buffer.data() + sizeof(xcb_randr_monitor_info_t), &output, 4);
        if (!first)
            buffer.resize(sizeof(xcb_randr_monitor_info_t));
        // A monitor of the same name is replaced; the server refuses to give its output to two at once.
        std::free(xcb_request_check(g_c, xcb_randr_delete_monitor_checked(g_c, g_screen->root, info->name)));
        if (!SendSetMonitor(buffer))
            return "error set monitor refused";
        first = false;
    }
    return "ok";
}

// A frequency from 0 (silence) to below 24 kHz.
std::optional<double> Frequency(const std::string& text) {
    char* end = nullptr;
    const double hz = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(hz) || hz < 0 || hz >= 24000)
        return std::nullopt;
    return hz;
}

std::string Tone(const std::string& text) {
    const std::optional<double> hz = Frequency(text);
    if (!hz)
        return "error bad frequency " + text;
    if (*hz == 0) {
        g_tone.Stop();
        return "ok";
    }
    const std::string error = g_tone.Play(*hz);
    return error.empty() ? "ok" : "error " + error;
}

void StopChildTone() {
    if (g_toneChild <= 0)
        return;
    kill(g_toneChild, SIGTERM);
    waitpid(g_toneChild, nullptr, 0);
    g_toneChild = -1;
}

std::string ChildTone(const std::string& text) {
    const std::optional<double> hz = Frequency(text);
    if (!hz)
        return "error bad frequency " + text;
    StopChildTone();
    if (*hz == 0)
        return "ok";
    int out[2];
    if (pipe(out) != 0)
        return "error pipe failed";
    const pid_t child = fork();
    if (child == 0) {
        // It ends with this program, and reads nothing of the commands meant for it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int nothing = open("/dev/null", O_RDONLY);
        dup2(nothing, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(PYX_TEST_TONE_BINARY, "pyx-test-tone", text.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    if (child < 0) {
        close(out[0]);
        return "error fork failed";
    }
    g_toneChild = child;
    char line[64] = {};
    const ssize_t count = read(out[0], line, sizeof(line) - 1);
    close(out[0]);
    if (count > 0 && std::string(line, static_cast<std::size_t>(count)) == "playing\n")
        return "ok";
    StopChildTone();
    return "error child tone failed";
}

std::string Execute(const std::string& line) {
    std::istringstream in(line);
    std::string command, name;
    in >> command >> name;
    if (command == "sync") {
        std::free(xcb_get_input_focus_reply(g_c, xcb_get_input_focus(g_c), nullptr));
        return "ok";
    }
    if (command == "create")
        return Create(in, g_screen->root, name);
    if (command == "child") {
        std::string childName;
        in >> childName;
        if (!g_windows.count(name))
            return "error no window " + name;
        return Create(in, g_windows[name].id, childName);
    }
    if (command == "tone")
        return Tone(name);
    if (command == "child-tone")
        return ChildTone(name);
    if (command == "monitors")
        return SetMonitors(name);
    if (command == "monitors-delete") {
        std::free(xcb_request_check(
            g_c, xcb_randr_delete_monitor_checked(g_c, g_screen->root, Atom(name.c_str()))));
        return "ok";
    }
    if (!g_windows.count(name))
        return "error no window " + name;
    Window& w = g_windows[name];
    if (command == "color") {
        std::string color;
        in >> color;
        w.color = static_cast<std::uint32_t>(std::stoul(color, nullptr, 16));
        w.quadrants = w.animate = false;
        Draw(w);
    } else if (command == "quadrants") {
        w.quadrants = true;
        w.animate = false;
        Draw(w);
    } else if (command == "animate") {
        w.animate = true;
        w.quadrants = false;
    } else if (command == "map") {
        xcb_map_window(g_c, w.id);
    } else if (command == "unmap") {
        xcb_unmap_window(g_c, w.id);
    } else if (command == "iconify") {
        SendToRoot(w.id, "WM_CHANGE_STATE", 3, 0);
    } else if (command == "activate") {
        SendToRoot(w.id, "_NET_ACTIVE_WINDOW", 2, XCB_CURRENT_TIME);
    } else if (command == "move") {
        int x, y, width, height;
        in >> x >> y >> width >> height;
        const std::uint32_t values[] = {std::uint32_t(x), std::uint32_t(y), std::uint32_t(width),
                                        std::uint32_t(height)};
        xcb_configure_window(g_c, w.id,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             values);
        w.width = static_cast<std::uint16_t>(width);
        w.height = static_cast<std::uint16_t>(height);
    } else if (command == "destroy") {
        xcb_destroy_window(g_c, w.id);
        g_windows.erase(name);
    } else {
        return "error unknown command " + command;
    }
    return "ok";
}

void HandleEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(g_c)) {
        if ((event->response_type & 0x7F) == XCB_EXPOSE) {
            const auto* expose = reinterpret_cast<xcb_expose_event_t*>(event);
            for (auto& [name, w] : g_windows)
                if (w.id == expose->window && expose->count == 0)
                    Draw(w);
        }
        std::free(event);
    }
}

} // namespace

int main() {
    g_c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(g_c)) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    g_screen = xcb_setup_roots_iterator(xcb_get_setup(g_c)).data;
    // Monitors need RandR 1.5 spoken on this connection.
    std::free(xcb_randr_query_version_reply(g_c, xcb_randr_query_version(g_c, 1, 5), nullptr));
    std::string pending;
    auto nextFrame = std::chrono::steady_clock::now();
    for (;;) {
        xcb_flush(g_c);
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {xcb_get_file_descriptor(g_c), POLLIN, 0}};
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            nextFrame - std::chrono::steady_clock::now());
        poll(fds, 2, static_cast<int>(std::max<long long>(0, wait.count())));
        if (xcb_connection_has_error(g_c))
            return 1;
        HandleEvents();
        if (std::chrono::steady_clock::now() >= nextFrame) {
            ++g_frame;
            for (auto& [name, w] : g_windows)
                if (w.animate)
                    Draw(w);
            nextFrame += std::chrono::microseconds(16667);
            if (nextFrame < std::chrono::steady_clock::now())
                nextFrame = std::chrono::steady_clock::now() + std::chrono::microseconds(16667);
        }
        if ((fds[0].revents & (POLLIN | POLLHUP)) != 0) {
            char buffer[4096];
            const ssize_t count = read(STDIN_FILENO, buffer, sizeof(buffer));
            if (count <= 0)
                return 0;
            pending.append(buffer, static_cast<std::size_t>(count));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                const std::string answer = Execute(pending.substr(0, end));
                pending.erase(0, end + 1);
                xcb_flush(g_c);
                std::printf("%s\n", answer.c_str());
                std::fflush(stdout);
            }
        }
    }
}
