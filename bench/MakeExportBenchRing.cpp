// Writes the export benchmark's ring and raw stream files: make-export-bench-ring FOLDER [SECONDS].

#include "ExportBenchRing.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make-export-bench-ring FOLDER [SECONDS]\n");
        return 1;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 60.0;
    const ExportBenchRing files = MakeExportBenchRing(argv[1], seconds);
    std::printf("%s %s %s %zu\n", files.ring.c_str(), files.video.c_str(), files.audio.c_str(), files.bytes);
    return 0;
}
