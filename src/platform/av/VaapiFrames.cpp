#include "VaapiFrames.h"

extern "C" {
#include <libavutil/hwcontext.h>
}

namespace av {

namespace {

constexpr int SurfacePool = 16;

} // namespace

VaapiFrames::~VaapiFrames() {
    av_buffer_unref(&m_frames);
    av_buffer_unref(&m_device);
}

CodecStatus VaapiFrames::Open(const std::string& device, int width, int height) {
    int error = av_hwdevice_ctx_create(&m_device, AV_HWDEVICE_TYPE_VAAPI, device.c_str(), nullptr, 0);
    if (error < 0)
        return CodecStatus::Unsupported;
    m_frames = av_hwframe_ctx_alloc(m_device);
    if (m_frames == nullptr)
        return CodecStatus::OutOfMemory;
    auto* frames = reinterpret_cast<AVHWFramesContext*>(m_frames->data);
    frames->format = AV_PIX_FMT_VAAPI;
    frames->sw_format = AV_PIX_FMT_NV12;
    frames->width = width;
    frames->height = height;
    frames->initial_pool_size = SurfacePool;
    error = av_hwframe_ctx_init(m_frames);
    return error < 0 ? CodecStatus::Unsupported : CodecStatus::Ok;
}

AVBufferRef* VaapiFrames::Pool() const { return av_buffer_ref(m_frames); }

CodecStatus VaapiFrames::Upload(const AVFrame* picture, FramePtr& surface) const {
    surface.reset(av_frame_alloc());
    if (!surface)
        return CodecStatus::OutOfMemory;
    int error = av_hwframe_get_buffer(m_frames, surface.get(), 0);
    if (error >= 0)
        error = av_hwframe_transfer_data(surface.get(), picture, 0);
    return StatusFromAvError(error);
}

} // namespace av
