#pragma once
// MP4 files through libavformat, with the index at the front so players can start before the whole file is
// read. Packets are stream-copied; a video stream without parameter sets takes them from its first key frame,
// and everything written before that is held back until then.

#include "StreamFormat.h"

#include <memory>
#include <string>

namespace av {

class Mp4Muxer {
public:
    // Creates the file (mode 0600, never through a symbolic link at the final component). On an I/O failure
    // systemError holds the errno value.
    static MuxResult Create(const std::string& path, std::unique_ptr<Mp4Muxer>& muxer, int& systemError);
    ~Mp4Muxer();
    Mp4Muxer(const Mp4Muxer&) = delete;
    Mp4Muxer& operator=(const Mp4Muxer&) = delete;

    MuxResult AddStream(const StreamFormat& format, std::uint32_t& index);
    // No streams can be added after this.
    MuxResult Start();
    MuxResult Write(std::uint32_t stream, const Packet& packet);
    // Completes the file; NoPackets when nothing was written. The file is closed in every case.
    MuxResult Finish();
    // The errno of the last failed file operation, 0 when none failed.
    int LastSystemError() const;

private:
    struct Impl;
    explicit Mp4Muxer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace av
