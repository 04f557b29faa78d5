#pragma once
// The process's exit statuses: one table for the code, `--help` and the README.

#include <cstdio>

enum ExitStatus : int {
    // Saved (or cancelled, as asked); for --export: NAME.mp4 written and the ring removed.
    ExitSaved = 0,
    // The recording could not be saved; the ring files are kept for --export.
    ExitSaveFailed = 1,
    // A value on the command line is not valid; nothing was touched.
    ExitBadCommandLine = 2,
    // Nothing was recorded (no video reached the ring, or the target could not be opened).
    ExitNothingRecorded = 3,
    // Another recorder or export holds NAME; nothing was touched.
    ExitNameInUse = 4,
    // Damaged records were skipped: what could be read is in NAME.mp4, and the ring files are kept.
    ExitPartialExport = 5,
    // Borderless capture is unavailable, or an unexpected error ended the process.
    ExitFailure = 255,
};

void PrintExitStatusTable(std::FILE* out);
