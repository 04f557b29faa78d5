#pragma once
// Baseline JPEG encoding of 32-bit BGRA/BGRX pixels through libjpeg-turbo.

#include <cstdint>
#include <string>

namespace jpeg {

struct Image {
    const std::uint8_t* pixels = nullptr; // top-down rows, 4 bytes per pixel in B, G, R, X order
    int width = 0;
    int height = 0;
    int stride = 0; // bytes from one row to the next
};

// Writes `image` to `path` (mode 0600, never through a symbolic link, replacing an existing file only once
// the new one is complete). False with `error` set when it cannot.
bool WriteJpegFile(const std::string& path, const Image& image, int quality, std::string& error);

} // namespace jpeg
