#include "VideoEncoder.h"

#include "CodecSupport.h"
#include "VaapiFrames.h"
#include "platform/yuv/FrameConverter.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdint>
#include <string>

namespace av {

namespace {

// Light presets: the recorder shares the machine with the application it records.
constexpr const char* H264Preset = "ultrafast";
constexpr const char* HevcPreset = "ultrafast";
// x264's quantiser when no bit rate is given. Its constant-quality mode rates every frame on a quarter-size
// copy first, about a quarter of the encoder's time at this preset; at this quantiser sizes and quality stay
// close to that mode's default.
constexpr int X264Quantiser = 23;
constexpr int MacroblockSize = 16;
// The hardware encoders' quantiser when no bit rate is given.
constexpr int VaapiQuality = 25;
// profile_idc with constraint_set1_flag, as the VA-API encoder names constrained baseline.
constexpr std::uint32_t VaapiConstrainedBaseline = 578;
constexpr int HevcCtuSize = 64;

bool IsParameterSet(Codec codec, const std::uint8_t* nal) {
    if (codec == Codec::H264) {
        const int type = nal[0] & 0x1F;
        return type == 7 || type == 8;
    }
    const int type = (nal[0] >> 1) & 0x3F;
    return type >= 32 && type <= 34;
}

// Keeps the parameter-set NAL units of an Annex B blob (encoders add SEI messages to their headers).
std::vector<std::uint8_t> ParameterSetsOf(Codec codec, const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> sets;
    std::size_t position = 0;
    auto nextStart = [&](std::size_t from) {
        for (std::size_t i = from; i + 3 <= size; ++i)
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
                return i;
        return size;
    };
    position = nextStart(0);
    while (position < size) {
        const std::size_t begin = position + 3;
        std::size_t end = nextStart(begin);
        position = end;
        // A four-byte start code leaves its leading zero at the end of the previous unit.
        while (end > begin && data[end - 1] == 0)
            --end;
        if (end > begin && IsParameterSet(codec, data + begin)) {
            static constexpr std::uint8_t StartCode[] = {0, 0, 0, 1};
            sets.insert(sets.end(), StartCode, StartCode + 4);
            sets.insert(sets.end(), data + begin, data + end);
        }
    }
    return sets;
}

std::string X264Parameters(const VideoEncoderSettings& settings) {
    std::string parameters = "repeat-headers=1:scenecut=0";
    parameters += settings.cabac ? ":cabac=1" : ":cabac=0";
    if (settings.gopSize == VideoEncoderSettings::InfiniteGop)
        parameters += ":keyint=infinite";
    else if (settings.gopSize != 0)
        parameters += ":keyint=" + std::to_string(settings.gopSize);
    if (settings.sliceRows != 0) {
        const std::uint32_t columns = (settings.width + MacroblockSize - 1) / MacroblockSize;
        parameters += ":slice-max-mbs=" + std::to_string(columns * settings.sliceRows);
    }
    return parameters;
}

std::string X265Parameters(const VideoEncoderSettings& settings) {
    std::string parameters = "repeat-headers=1:scenecut=0:open-gop=0:info=0:log-level=error";
    if (settings.gopSize == VideoEncoderSettings::InfiniteGop)
        parameters += ":keyint=-1";
    else if (settings.gopSize != 0)
        parameters +=
            ":keyint=" + std::to_string(settings.gopSize) + ":min-keyint=" + std::to_string(settings.gopSize);
    if (settings.sliceRows != 0) {
        // HEVC slices hold whole rows of 64-pixel coding tree units.
        const std::uint32_t ctuRows = (settings.height + HevcCtuSize - 1) / HevcCtuSize;
        const std::uint32_t rowsPerSlice =
            std::max<std::uint32_t>(1, settings.sliceRows * MacroblockSize / HevcCtuSize);
        parameters += ":slices=" + std::to_string((ctuRows + rowsPerSlice - 1) / rowsPerSlice);
    }
    return parameters;
}

const char* H264ProfileName(std::uint32_t profile) {
    switch (profile) {
    case 66:
        return "baseline";
    case 77:
        return "main";
    case 100:
        return "high";
    default:
        return nullptr;
    }
}

void ConfigureCommon(AVCodecContext* context, const VideoEncoderSettings& settings) {
    context->width = static_cast<int>(settings.width);
    context->height = static_cast<int>(settings.height);
    context->framerate = {static_cast<int>(settings.frameRateNumerator),
                          static_cast<int>(settings.frameRateDenominator)};
    context->time_base = av_inv_q(context->framerate);
    context->max_b_frames = 0;
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    context->colorspace = settings.bt709 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    context->color_primaries = settings.bt709 ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    context->color_trc = settings.bt709 ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    context->color_range = settings.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    if (settings.bitRate != 0) {
        context->bit_rate = settings.bitRate;
        context->rc_max_rate = settings.bitRate;
        context->rc_buffer_size = static_cast<int>(std::min<std::uint32_t>(settings.bitRate, INT32_MAX));
    }
}

bool ConfigureSoftware(AVCodecContext* context, const VideoEncoderSettings& settings) {
    void* options = context->priv_data;
    const bool h264 = settings.codec == Codec::H264;
    // One encoding thread: the application being recorded and the capture need the other cores at the very
    // moments a frame is encoded, and one core keeps up with the lightest preset.
    context->thread_count = 1;
    if (av_opt_set(options, "preset", h264 ? H264Preset : HevcPreset, 0) < 0 ||
        av_opt_set_int(options, "forced-idr", 1, 0) < 0)
        return false;
    if (settings.lowLatency && av_opt_set(options, "tune", "zerolatency", 0) < 0)
        return false;
    if (h264) {
        if (settings.bitRate == 0 && av_opt_set_int(options, "qp", X264Quantiser, 0) < 0)
            return false;
        const char* profile = H264ProfileName(settings.h264Profile);
        return profile != nullptr && av_opt_set(options, "profile", profile, 0) >= 0 &&
               av_opt_set(options, "x264-params", X264Parameters(settings).c_str(), 0) >= 0;
    }
    return av_opt_set(options, "x265-params", X265Parameters(settings).c_str(), 0) >= 0;
}

bool ConfigureVaapi(AVCodecContext* context, const VideoEncoderSettings& settings) {
    void* options = context->priv_data;
    const bool h264 = settings.codec == Codec::H264;
    // Every I picture is an IDR picture (idr_interval 0), so the GOP is the key-frame distance.
    if (settings.gopSize == VideoEncoderSettings::InfiniteGop)
        context->gop_size = INT32_MAX;
    else if (settings.gopSize != 0)
        context->gop_size = static_cast<int>(settings.gopSize);
    if (settings.sliceRows != 0) {
        const std::uint32_t rows = (settings.height + MacroblockSize - 1) / MacroblockSize;
        context->slices = static_cast<int>((rows + settings.sliceRows - 1) / settings.sliceRows);
    }
    const bool constantQuality = settings.bitRate == 0;
    if (av_opt_set(options, "rc_mode", constantQuality ? "CQP" : "CBR", 0) < 0 ||
        (constantQuality && av_opt_set_int(options, "qp", VaapiQuality, 0) < 0) ||
        (settings.lowLatency && av_opt_set_int(options, "async_depth", 1, 0) < 0))
        return false;
    if (!h264)
        return true;
    const std::uint32_t profile =
        settings.h264Profile == 66 ? VaapiConstrainedBaseline : settings.h264Profile;
    return H264ProfileName(settings.h264Profile) != nullptr &&
           av_opt_set_int(options, "profile", profile, 0) >= 0 &&
           av_opt_set_int(options, "coder", settings.cabac ? 1 : 0, 0) >= 0;
}

void ReleaseKeepAlive(void* opaque, std::uint8_t*) {
    delete static_cast<std::shared_ptr<const void>*>(opaque);
}

} // namespace

struct VideoEncoder::Impl {
    Codec codec = Codec::H264;
    CodecContextPtr context;
    PacketPtr packet;
    // Encoders that do not take NV12 get the frame split into three planes here.
    FramePtr planar;
    // Hardware encoders get the frame uploaded into a surface.
    std::unique_ptr<VaapiFrames> vaapi;
    std::vector<std::uint8_t> parameterSets;

    CodecStatus SendNv12(const yuv::Nv12View& frame, std::int64_t pts, bool keyFrame,
                         std::shared_ptr<const void> keepAlive);
    CodecStatus SendPlanar(const yuv::Nv12View& frame, std::int64_t pts, bool keyFrame);
};

CodecStatus VideoEncoder::Impl::SendNv12(const yuv::Nv12View& frame, std::int64_t pts, bool keyFrame,
                                         std::shared_ptr<const void> keepAlive) {
    FramePtr wrapped(av_frame_alloc());
    if (!wrapped)
        return CodecStatus::OutOfMemory;
    wrapped->format = AV_PIX_FMT_NV12;
    wrapped->width = frame.width;
    wrapped->height = frame.height;
    wrapped->data[0] = const_cast<std::uint8_t*>(frame.y);
    wrapped->linesize[0] = frame.yPitch;
    wrapped->data[1] = const_cast<std::uint8_t*>(frame.uv);
    wrapped->linesize[1] = frame.uvPitch;
    // A reference-counted frame is passed on without a copy; its buffer owns the caller's keep-alive.
    auto* holder = new std::shared_ptr<const void>(std::move(keepAlive));
    wrapped->buf[0] =
        av_buffer_create(wrapped->data[0], static_cast<std::size_t>(frame.yPitch) * frame.height,
                         ReleaseKeepAlive, holder, AV_BUFFER_FLAG_READONLY);
    if (wrapped->buf[0] == nullptr) {
        delete holder;
        return CodecStatus::OutOfMemory;
    }
    wrapped->pts = pts;
    wrapped->pict_type = keyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (!vaapi)
        return StatusFromAvError(avcodec_send_frame(context.get(), wrapped.get()));
    FramePtr surface;
    if (const CodecStatus status = vaapi->Upload(wrapped.get(), surface); status != CodecStatus::Ok)
        return status;
    surface->pts = pts;
    surface->pict_type = wrapped->pict_type;
    return StatusFromAvError(avcodec_send_frame(context.get(), surface.get()));
}

CodecStatus VideoEncoder::Impl::SendPlanar(const yuv::Nv12View& frame, std::int64_t pts, bool keyFrame) {
    if (int error = av_frame_make_writable(planar.get()); error < 0)
        return StatusFromAvError(error);
    const yuv::I420Target target{planar->data[0], planar->linesize[0], planar->data[1], planar->linesize[1],
                                 planar->data[2], planar->linesize[2], frame.width,     frame.height};
    if (!yuv::Nv12ToI420(frame, target))
        return CodecStatus::InvalidArgument;
    planar->pts = pts;
    planar->pict_type = keyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    return StatusFromAvError(avcodec_send_frame(context.get(), planar.get()));
}

VideoEncoder::VideoEncoder(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
VideoEncoder::~VideoEncoder() = default;

CodecStatus VideoEncoder::Open(const VideoEncoderSettings& settings, std::unique_ptr<VideoEncoder>& encoder) {
    encoder.reset();
    if (settings.width == 0 || settings.height == 0 || settings.width % 2 != 0 || settings.height % 2 != 0 ||
        settings.frameRateNumerator == 0 || settings.frameRateDenominator == 0 ||
        (settings.codec != Codec::H264 && settings.codec != Codec::Hevc))
        return CodecStatus::InvalidArgument;
    QuietLibraryLog();
    const bool hardware = !settings.device.empty();
    const bool h264 = settings.codec == Codec::H264;
    const char* name = hardware ? (h264 ? "h264_vaapi" : "hevc_vaapi") : (h264 ? "libx264" : "libx265");
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (codec == nullptr)
        return CodecStatus::Unsupported;
    auto impl = std::make_unique<Impl>();
    impl->codec = settings.codec;
    impl->context.reset(avcodec_alloc_context3(codec));
    impl->packet.reset(av_packet_alloc());
    if (!impl->context || !impl->packet)
        return CodecStatus::OutOfMemory;
    AVCodecContext* context = impl->context.get();
    ConfigureCommon(context, settings);
    const bool takesNv12 = hardware || h264;
    if (hardware) {
        impl->vaapi = std::make_unique<VaapiFrames>();
        if (const CodecStatus status = impl->vaapi->Open(settings.device, static_cast<int>(settings.width),
                                                         static_cast<int>(settings.height));
            status != CodecStatus::Ok)
            return status;
        context->pix_fmt = AV_PIX_FMT_VAAPI;
        context->hw_frames_ctx = impl->vaapi->Pool();
        if (context->hw_frames_ctx == nullptr || !ConfigureVaapi(context, settings))
            return CodecStatus::Unsupported;
    } else {
        context->pix_fmt = takesNv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
        if (!ConfigureSoftware(context, settings))
            return CodecStatus::Unsupported;
    }
    if (int error = avcodec_open2(context, codec, nullptr); error < 0)
        return error == AVERROR(EINVAL) ? CodecStatus::Unsupported : StatusFromAvError(error);
    if (!takesNv12) {
        impl->planar.reset(av_frame_alloc());
        if (!impl->planar)
            return CodecStatus::OutOfMemory;
        impl->planar->format = AV_PIX_FMT_YUV420P;
        impl->planar->width = context->width;
        impl->planar->height = context->height;
        if (int error = av_frame_get_buffer(impl->planar.get(), 0); error < 0)
            return StatusFromAvError(error);
    }
    impl->parameterSets = ParameterSetsOf(settings.codec, context->extradata,
                                          static_cast<std::size_t>(context->extradata_size));
    if (impl->parameterSets.empty())
        return CodecStatus::Failed;
    encoder.reset(new VideoEncoder(std::move(impl)));
    return CodecStatus::Ok;
}

bool VideoEncoder::Works(const VideoEncoderSettings& settings) {
    std::unique_ptr<VideoEncoder> encoder;
    if (Open(settings, encoder) != CodecStatus::Ok)
        return false;
    const std::size_t lumaSize = std::size_t(settings.width) * settings.height;
    auto picture = std::make_shared<std::vector<std::uint8_t>>(lumaSize * 3 / 2, std::uint8_t(128));
    const int width = static_cast<int>(settings.width);
    const yuv::Nv12View frame{picture->data(), width, picture->data() + lumaSize,
                              width,           width, static_cast<int>(settings.height)};
    if (encoder->Encode(frame, 0, true, picture) != CodecStatus::Ok || encoder->Drain() != CodecStatus::Ok)
        return false;
    bool produced = false;
    while (encoder->Receive([&](const EncodedPacketView& packet) {
        produced = produced || packet.size > 0;
    }) == CodecStatus::Ok) {
    }
    return produced;
}

const std::vector<std::uint8_t>& VideoEncoder::ParameterSets() const { return m_impl->parameterSets; }

CodecStatus VideoEncoder::Encode(const yuv::Nv12View& frame, std::int64_t pts, bool keyFrame,
                                 std::shared_ptr<const void> keepAlive) {
    if (frame.y == nullptr || frame.uv == nullptr || frame.width != m_impl->context->width ||
        frame.height != m_impl->context->height)
        return CodecStatus::InvalidArgument;
    if (m_impl->planar)
        return m_impl->SendPlanar(frame, pts, keyFrame);
    return m_impl->SendNv12(frame, pts, keyFrame, std::move(keepAlive));
}

CodecStatus VideoEncoder::Drain() {
    const int result = avcodec_send_frame(m_impl->context.get(), nullptr);
    // Draining twice is harmless.
    return result == AVERROR_EOF ? CodecStatus::Ok : StatusFromAvError(result);
}

CodecStatus VideoEncoder::Receive(const PacketConsumer& consumer) {
    return ReceivePacket(m_impl->context.get(), m_impl->packet.get(), consumer);
}

} // namespace av
