#pragma once
// What a recorder process needs from its first instruction on, before any thread starts or any library that
// may start one loads: the save and cancel signals blocked (so none ends the process before its watcher reads
// it), SIGPIPE ignored (so a standard error nobody reads cannot end it), and /dev/null on any of the
// descriptors 0 to 2 that is closed (so no file opened later takes its number and receives the log lines).
// The mask, the ignored SIGPIPE and pending signals all survive exec.

#include <csignal>

// The signals that save (SIGUSR1) or cancel (SIGTERM, SIGINT) a recording.
sigset_t RecorderSignals();

void GuardProcessStart();
// Gives the save and cancel signals their default actions again, for runs that watch no events.
void UnblockProcessSignals();

// Turns transparent huge pages off for the process and what it runs: an encoder that asks for them for its
// picture buffers would otherwise hold whole 2 MB pages of which it uses a part, megabytes of a recorder
// meant to stay small beside the application. Survives exec; harmless where the kernel lacks the setting.
void AvoidHugePages();
