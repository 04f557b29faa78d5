// The only source that sees libyuv's headers.

#include "FrameConverter.h"

#include <libyuv.h>

#include <algorithm>

namespace yuv {

namespace {

constexpr std::uint8_t BlackLuma = 16;
constexpr std::uint8_t NeutralChroma = 128;
constexpr std::uint32_t OpaqueBlack = 0xFF000000;
// A fitted picture this close to the target fills it: a bar of a pixel or two is rounding, not aspect.
constexpr int FillTolerance = 2;

bool Valid(const ArgbView& image) {
    return image.data != nullptr && image.width > 0 && image.height > 0 && image.pitch >= image.width * 4;
}

bool Valid(const Nv12Target& image) {
    return image.y != nullptr && image.uv != nullptr && image.width > 0 && image.height > 0 &&
           image.width % 2 == 0 && image.height % 2 == 0 && image.yPitch >= image.width &&
           image.uvPitch >= image.width;
}

bool Valid(const ArgbTarget& image) {
    return image.data != nullptr && image.width > 0 && image.height > 0 && image.pitch >= image.width * 4;
}

libyuv::RotationMode RotationOf(int clockwise) {
    switch (clockwise) {
    case 90:
        return libyuv::kRotate90;
    case 180:
        return libyuv::kRotate180;
    case 270:
        return libyuv::kRotate270;
    default:
        return libyuv::kRotate0;
    }
}

// The area a picture is fitted into: the given one, or the whole target; false when it leaves the target.
bool Bounds(FrameConverter::Rect& area, int width, int height, bool even) {
    if (area.width <= 0 || area.height <= 0)
        area = {0, 0, width, height};
    if (even && (area.x % 2 != 0 || area.y % 2 != 0 || area.width % 2 != 0 || area.height % 2 != 0))
        return false;
    return area.x >= 0 && area.y >= 0 && area.width <= width - area.x && area.height <= height - area.y;
}

FrameConverter::Rect Place(FrameConverter::Rect fitted, const FrameConverter::Rect& area) {
    fitted.x += area.x;
    fitted.y += area.y;
    return fitted;
}

} // namespace

FrameConverter::Rect FrameConverter::FitInside(int sourceWidth, int sourceHeight, int targetWidth,
                                               int targetHeight, bool even) {
    Rect rect{0, 0, targetWidth, targetHeight};
    const long long wide = static_cast<long long>(sourceWidth) * targetHeight;
    const long long tall = static_cast<long long>(sourceHeight) * targetWidth;
    if (wide > tall)
        rect.height = static_cast<int>((tall + sourceWidth / 2) / sourceWidth);
    else if (tall > wide)
        rect.width = static_cast<int>((wide + sourceHeight / 2) / sourceHeight);
    if (targetWidth - rect.width <= FillTolerance)
        rect.width = targetWidth;
    if (targetHeight - rect.height <= FillTolerance)
        rect.height = targetHeight;
    if (even) {
        rect.width = std::max(2, rect.width & ~1);
        rect.height = std::max(2, rect.height & ~1);
    }
    rect.x = (targetWidth - rect.width) / 2;
    rect.y = (targetHeight - rect.height) / 2;
    if (even) {
        rect.x &= ~1;
        rect.y &= ~1;
    }
    return rect;
}

bool FrameConverter::Rotate(const ArgbView& source, int clockwise, ArgbView& rotated) {
    if (clockwise != 0 && clockwise != 90 && clockwise != 180 && clockwise != 270)
        return false;
    if (clockwise == 0) {
        rotated = source;
        return true;
    }
    const bool swap = clockwise == 90 || clockwise == 270;
    const int width = swap ? source.height : source.width;
    const int height = swap ? source.width : source.height;
    m_rotated.resize(static_cast<std::size_t>(width) * height * 4);
    if (libyuv::ARGBRotate(source.data, source.pitch, m_rotated.data(), width * 4, source.width,
                           source.height, RotationOf(clockwise)) != 0)
        return false;
    rotated = {m_rotated.data(), width * 4, width, height};
    return true;
}

bool FrameConverter::Scale(const ArgbView& source, int width, int height, ArgbView& scaled) {
    if (source.width == width && source.height == height) {
        scaled = source;
        return true;
    }
    m_scaled.resize(static_cast<std::size_t>(width) * height * 4);
    scaled = {m_scaled.data(), width * 4, width, height};
    return libyuv::ARGBScale(source.data, source.pitch, source.width, source.height, m_scaled.data(),
                             width * 4, width, height, libyuv::kFilterBox) == 0;
}

bool FrameConverter::ToNv12(const ArgbView& source, int clockwise, const Nv12Target& target, Rect area) {
    ArgbView upright;
    if (!Valid(source) || !Valid(target) || !Bounds(area, target.width, target.height, true) ||
        !Rotate(source, clockwise, upright))
        return false;
    const Rect rect = Place(FitInside(upright.width, upright.height, area.width, area.height, true), area);
    if (rect.width != target.width || rect.height != target.height) {
        libyuv::SetPlane(target.y, target.yPitch, target.width, target.height, BlackLuma);
        libyuv::SetPlane(target.uv, target.uvPitch, target.width, target.height / 2, NeutralChroma);
    }
    ArgbView scaled;
    if (!Scale(upright, rect.width, rect.height, scaled))
        return false;
    return libyuv::ARGBToNV12(scaled.data, scaled.pitch, target.y + rect.y * target.yPitch + rect.x,
                              target.yPitch, target.uv + rect.y / 2 * target.uvPitch + rect.x, target.uvPitch,
                              rect.width, rect.height) == 0;
}

bool FrameConverter::ToArgb(const ArgbView& source, int clockwise, const ArgbTarget& target, Rect area) {
    ArgbView upright;
    if (!Valid(source) || !Valid(target) || !Bounds(area, target.width, target.height, false) ||
        !Rotate(source, clockwise, upright))
        return false;
    const Rect rect = Place(FitInside(upright.width, upright.height, area.width, area.height, false), area);
    if (rect.width != target.width || rect.height != target.height)
        libyuv::ARGBRect(target.data, target.pitch, 0, 0, target.width, target.height, OpaqueBlack);
    std::uint8_t* destination = target.data + rect.y * target.pitch + rect.x * 4;
    if (upright.width == rect.width && upright.height == rect.height)
        return libyuv::ARGBCopy(upright.data, upright.pitch, destination, target.pitch, rect.width,
                                rect.height) == 0;
    return libyuv::ARGBScale(upright.data, upright.pitch, upright.width, upright.height, destination,
                             target.pitch, rect.width, rect.height, libyuv::kFilterBox) == 0;
}

bool Nv12ToI420(const Nv12View& source, const I420Target& target) {
    if (source.y == nullptr || source.uv == nullptr || target.y == nullptr || target.u == nullptr ||
        target.v == nullptr || source.width != target.width || source.height != target.height ||
        source.width <= 0 || source.height <= 0)
        return false;
    return libyuv::NV12ToI420(source.y, source.yPitch, source.uv, source.uvPitch, target.y, target.yPitch,
                              target.u, target.uPitch, target.v, target.vPitch, source.width,
                              source.height) == 0;
}

} // namespace yuv
