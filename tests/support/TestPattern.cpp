#include "TestPattern.h"

#include <cmath>
#include <limits>

YuvFrame MakePatternFrame(int index, int width, int height) {
    YuvFrame frame{width, height, {}, {}, {}};
    frame.y.resize(std::size_t(width) * height);
    frame.u.resize(std::size_t(width / 2) * (height / 2));
    frame.v.resize(frame.u.size());
    const int blockSize = height / 6;
    const int blockX = (index * 7) % (width - blockSize);
    const int blockY = (index * 3) % (height - blockSize);
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            int luma = 40 + ((column + index * 2) * 160 / width + row * 40 / height) % 170;
            if (column >= blockX && column < blockX + blockSize && row >= blockY && row < blockY + blockSize)
                luma = 235;
            frame.y[std::size_t(row) * width + column] = static_cast<std::uint8_t>(luma);
        }
    }
    for (int row = 0; row < height / 2; ++row) {
        for (int column = 0; column < width / 2; ++column) {
            const std::size_t at = std::size_t(row) * (width / 2) + column;
            frame.u[at] = static_cast<std::uint8_t>(64 + (row * 128 / (height / 2) + index) % 128);
            frame.v[at] = static_cast<std::uint8_t>(192 - (column * 128 / (width / 2)) % 128);
        }
    }
    return frame;
}

double Psnr(const YuvFrame& a, const YuvFrame& b) {
    double squaredError = 0;
    std::size_t samples = 0;
    auto add = [&](const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y) {
        for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) {
            const double difference = double(x[i]) - double(y[i]);
            squaredError += difference * difference;
        }
        samples += x.size();
    };
    add(a.y, b.y);
    add(a.u, b.u);
    add(a.v, b.v);
    if (squaredError == 0)
        return std::numeric_limits<double>::infinity();
    return 10 * std::log10(255.0 * 255.0 / (squaredError / double(samples)));
}
