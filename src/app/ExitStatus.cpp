#include "ExitStatus.h"

void PrintExitStatusTable(std::FILE* out) {
    std::fputs("Exit status:\n"
               "  0    saved, or cancelled as asked; --export: NAME.mp4 written and the ring removed\n"
               "  1    the recording could not be saved; the ring files are kept for --export\n"
               "  2    bad command line; nothing was touched\n"
               "  3    nothing recorded (no video reached the ring, or no such process)\n"
               "  4    NAME is in use by another recorder or export; nothing was touched\n"
               "  5    partial export: damaged records skipped, the ring files are kept\n"
               "  255  borderless capture unavailable, or an unexpected error\n",
               out);
}
