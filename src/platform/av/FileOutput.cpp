#include "FileOutput.h"

#include "FormatLibrary.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace av {

namespace {

constexpr int BufferSize = 1 << 20;

#if LIBAVFORMAT_VERSION_MAJOR < 61
using WriteData = std::uint8_t*;
#else
using WriteData = const std::uint8_t*;
#endif

} // namespace

int FileOutput::Open(const FormatLibrary& library, const std::string& path,
                     std::unique_ptr<FileOutput>& output) {
    // Non-blocking, so a FIFO at the path cannot hang the open; only a regular file is written.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return errno == ENXIO ? EINVAL : errno;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return EINVAL;
    }
    auto* buffer = static_cast<unsigned char*>(av_malloc(BufferSize));
    std::unique_ptr<FileOutput> file(new FileOutput(library, fd));
    if (buffer != nullptr) {
        file->m_io = library.allocIoContext(
            buffer, BufferSize, 1, file.get(), nullptr,
            [](void* opaque, WriteData data, int size) { return Write(opaque, data, size); },
            [](void* opaque, std::int64_t offset, int whence) -> std::int64_t {
                return Seek(opaque, offset, whence);
            });
    }
    if (file->m_io == nullptr) {
        av_free(buffer);
        return ENOMEM;
    }
    output = std::move(file);
    return 0;
}

FileOutput::~FileOutput() { Close(); }

int FileOutput::Write(void* opaque, const unsigned char* data, int size) {
    auto* self = static_cast<FileOutput*>(opaque);
    while (size > 0) {
        const ssize_t written = ::write(self->m_fd, data, static_cast<std::size_t>(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            self->m_error = written < 0 ? errno : EIO;
            return AVERROR(self->m_error);
        }
        data += written;
        size -= static_cast<int>(written);
    }
    return 0;
}

long long FileOutput::Seek(void* opaque, long long offset, int whence) {
    auto* self = static_cast<FileOutput*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(self->m_fd, &status) == 0 ? status.st_size : AVERROR(errno);
    }
    const off_t position = ::lseek(self->m_fd, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

int FileOutput::Close() {
    if (m_io != nullptr) {
        m_library.flushIo(m_io);
        av_freep(&m_io->buffer);
        m_library.freeIoContext(&m_io);
    }
    if (m_fd >= 0) {
        if (::close(m_fd) != 0 && m_error == 0)
            m_error = errno;
        m_fd = -1;
    }
    return m_error;
}

} // namespace av
