#pragma once
// Frames on a VA-API render node for the hardware encoders: the device, its NV12 surface pool, and the
// upload of a picture from memory into a surface.

#include "CodecSupport.h"

#include <string>

namespace av {

class VaapiFrames {
public:
    VaapiFrames() = default;
    ~VaapiFrames();
    VaapiFrames(const VaapiFrames&) = delete;
    VaapiFrames& operator=(const VaapiFrames&) = delete;

    // Opens the render node (such as "/dev/dri/renderD128") with a pool of width x height NV12 surfaces.
    CodecStatus Open(const std::string& device, int width, int height);
    // A new reference to the surface pool, for the encoder's hw_frames_ctx.
    AVBufferRef* Pool() const;
    // A surface from the pool holding a copy of the NV12 picture.
    CodecStatus Upload(const AVFrame* picture, FramePtr& surface) const;

private:
    AVBufferRef* m_device = nullptr;
    AVBufferRef* m_frames = nullptr;
};

} // namespace av
