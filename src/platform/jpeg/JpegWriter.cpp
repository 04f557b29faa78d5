#include "JpegWriter.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <jpeglib.h>

namespace jpeg {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    info->err->format_message(info, manager->message);
    std::longjmp(manager->jump, 1);
}

// Kept apart from WriteJpegFile so that no object with a destructor lives across setjmp.
bool Compress(std::FILE* file, const Image& image, int quality, char (&message)[JMSG_LENGTH_MAX]) {
    jpeg_compress_struct info;
    ErrorManager manager;
    info.err = jpeg_std_error(&manager.base);
    manager.base.error_exit = OnError;
    if (setjmp(manager.jump) != 0) {
        std::memcpy(message, manager.message, sizeof(message));
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(image.width);
    info.image_height = static_cast<JDIMENSION>(image.height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.pixels + static_cast<std::size_t>(info.next_scanline) *
                                                               static_cast<std::size_t>(image.stride));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

} // namespace

bool WriteJpegFile(const std::string& path, const Image& image, int quality, std::string& error) {
    if (image.pixels == nullptr || image.width <= 0 || image.height <= 0 || image.stride < image.width * 4 ||
        image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION) {
        error = "invalid image";
        return false;
    }
    // A new file of a short fresh name beside the image, renamed over it when complete: a link or another
    // user's file at the path is replaced rather than written through, and the name fits wherever the path's
    // does.
    const std::string::size_type slash = path.find_last_of('/');
    std::string temporary =
        (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + ".pyx-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    }
    char message[JMSG_LENGTH_MAX] = "";
    bool written = Compress(file, image, quality, message);
    if (!written)
        error = message;
    if (std::fflush(file) != 0 || ::fsync(fd) != 0) {
        if (written)
            error = std::strerror(errno);
        written = false;
    }
    std::fclose(file);
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        written = false;
    }
    if (!written)
        ::unlink(temporary.c_str());
    return written;
}

} // namespace jpeg
