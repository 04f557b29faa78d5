#pragma once
// Inside the backend only: the event thread and context behind a Connection, and waiting on them.

#include "Connection.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>

namespace pulse {

struct Connection::State {
    State() = default;
    ~State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
};

// Holds the event thread's lock; every call into the library outside its callbacks needs it.
class MainLoopLock {
public:
    explicit MainLoopLock(pa_threaded_mainloop* mainloop) : m_mainloop(mainloop) {
        pa_threaded_mainloop_lock(m_mainloop);
    }
    ~MainLoopLock() { pa_threaded_mainloop_unlock(m_mainloop); }
    MainLoopLock(const MainLoopLock&) = delete;
    MainLoopLock& operator=(const MainLoopLock&) = delete;

private:
    pa_threaded_mainloop* m_mainloop;
};

// With the lock held: waits until done() holds or the timeout passes; false on timeout. Callbacks that
// change what done() looks at signal the main loop.
bool WaitLocked(Connection::State& state, std::chrono::milliseconds timeout,
                const std::function<bool()>& done);

// With the lock held: waits for the operation to complete (or the timeout, which cancels it) and drops it.
// False when it did not complete.
bool CompleteOperation(Connection::State& state, pa_operation* operation, std::chrono::milliseconds timeout);

} // namespace pulse
