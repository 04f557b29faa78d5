#pragma once
// Turns the process signals of a hand-started recorder into its events: SIGUSR1 sets the save event,
// SIGTERM and SIGINT set the cancel event. Construct it before any other thread starts, so that every
// thread inherits the blocked signal mask and the signals reach only its own watcher thread.

#include <handleapi.h>

#include <atomic>
#include <thread>

// True when `handle` names a descriptor of this process that is an eventfd.
bool IsEventDescriptor(HANDLE handle);

class SignalEvents {
public:
    // Throws std::system_error when the signal descriptor or the thread cannot be created.
    SignalEvents(HANDLE saveEvent, HANDLE cancelEvent);
    ~SignalEvents();
    SignalEvents(const SignalEvents&) = delete;
    SignalEvents& operator=(const SignalEvents&) = delete;

    // Whether SIGUSR1 set the save event; true before the event is set.
    bool SaveSignalled() const { return m_saveSignalled; }

private:
    void Watch();

    HANDLE m_saveEvent;
    HANDLE m_cancelEvent;
    int m_signalFd = -1;
    int m_stopFd = -1;
    std::atomic<bool> m_saveSignalled{false};
    std::thread m_thread;
};
