#include "Connection.h"

namespace x11 {

std::unique_ptr<Connection> Connection::Open() {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<Connection>(new Connection(connection, it.data));
}

Connection::Connection(xcb_connection_t* connection, xcb_screen_t* screen)
    : m_connection(connection), m_screen(screen) {}

Connection::~Connection() { xcb_disconnect(m_connection); }

xcb_atom_t Connection::Atom(const std::string& name) {
    {
        std::lock_guard lock(m_atomMutex);
        if (auto found = m_atoms.find(name); found != m_atoms.end())
            return found->second;
    }
    const auto cookie =
        xcb_intern_atom(m_connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str());
    const auto reply = PYX_XCB_REPLY(m_connection, xcb_intern_atom, cookie);
    if (!reply)
        return XCB_ATOM_NONE;
    std::lock_guard lock(m_atomMutex);
    m_atoms.emplace(name, reply->atom);
    return reply->atom;
}

std::shared_ptr<Connection> SharedConnection() {
    static std::mutex mutex;
    static std::shared_ptr<Connection> shared;
    std::lock_guard lock(mutex);
    if (!shared || shared->Broken())
        shared = Connection::Open();
    return shared;
}

} // namespace x11
