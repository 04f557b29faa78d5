#pragma once
// `pyx-video --export NAME`: turns the ring files a recorder left behind (it was killed, or its export
// failed) into NAME.mp4, rebuilding the stream types from the recorded data. Needs no display.

// True when the command line asks for it: the first argument is "--export" (NAME follows) or "--export=NAME".
bool IsRingRecoveryCommand(int argc, const char* const argv[]);

// Exports and, once a non-empty NAME.mp4 is in place, removes the ring files; prints what it wrote and
// returns 0. On failure prints why on standard error, leaves the ring files (and an existing NAME.mp4) as
// they were, and returns 1.
int RunRingRecovery(int argc, const char* const argv[]);
