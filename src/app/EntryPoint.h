#pragma once

// Runs the recorder process from its command line; returns the process exit code (0, or -1 on failure).
int RunEntryPoint();
