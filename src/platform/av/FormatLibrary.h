#pragma once
// libavformat, loaded when the first file is written rather than at start: it and the libraries it pulls in
// take several megabytes that a recorder which never saves would carry all the time.

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
}

namespace av {

struct FormatLibrary {
    decltype(&avformat_alloc_output_context2) allocOutputContext;
    decltype(&avformat_new_stream) newStream;
    decltype(&avformat_write_header) writeHeader;
    decltype(&av_interleaved_write_frame) interleavedWriteFrame;
    decltype(&av_write_trailer) writeTrailer;
    decltype(&avformat_free_context) freeContext;
    decltype(&avio_alloc_context) allocIoContext;
    decltype(&avio_flush) flushIo;
    decltype(&avio_context_free) freeIoContext;
};

// The library's functions, loaded once and kept for the life of the process; null when it cannot be loaded.
const FormatLibrary* LoadFormatLibrary();

} // namespace av
