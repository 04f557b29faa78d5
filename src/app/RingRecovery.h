#pragma once
// `pyx-video --export NAME`: turns the ring files a recorder left behind (it was killed, or its export
// failed) into NAME.mp4, rebuilding the stream types from the recorded data. Needs no display.

// True when the command line asks for it: the first argument is "--export" (NAME follows) or "--export=NAME".
bool IsRingRecoveryCommand(int argc, const char* const argv[]);

// Holding NAME's lock, exports and, once a complete NAME.mp4 is in place, removes the ring files; prints what
// it wrote and returns 0. Otherwise prints why on standard error and returns the exit status: NAME in use
// (nothing touched), partial (damage skipped: the rest is in NAME.mp4 unless one was there already, the ring
// files are kept), or could not save (the ring files and an existing NAME.mp4 are left as they were).
int RunRingRecovery(int argc, const char* const argv[]);
