#pragma once
// An XCB connection with its default screen, interned atoms and reply ownership. Internal to the backend.

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace x11 {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Replies and errors from XCB are malloc'ed; this owns one.
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// Takes the reply of `cookie`, dropping any error (a destroyed window simply gives no reply).
#define PYX_XCB_REPLY(connection, request, cookie)                                                           \
    ::x11::Reply<request##_reply_t>(request##_reply((connection), (cookie), nullptr))

class Connection {
public:
    // Null when no X display can be opened.
    static std::unique_ptr<Connection> Open();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_connection_t* Get() const { return m_connection; }
    xcb_screen_t* Screen() const { return m_screen; }
    xcb_window_t Root() const { return m_screen->root; }
    bool Broken() const { return xcb_connection_has_error(m_connection) != 0; }

    // Interned once per connection; XCB_ATOM_NONE when the server does not answer.
    xcb_atom_t Atom(const std::string& name);

private:
    Connection(xcb_connection_t* connection, xcb_screen_t* screen);

    xcb_connection_t* m_connection;
    xcb_screen_t* m_screen;
    std::mutex m_atomMutex;
    std::unordered_map<std::string, xcb_atom_t> m_atoms;
};

// The process-wide connection for queries (thread-safe, as XCB is); reopened when the old one broke.
// Null when no display is available.
std::shared_ptr<Connection> SharedConnection();

} // namespace x11
