// The fake AMF runtime's components. Encoders ("AMFVideoEncoderVCE_AVC", "AMFVideoEncoderHW_HEVC") take host
// surfaces and encode them with libx264 or libx265 into host buffers that carry the surface's properties,
// the picture type and the buffer type; a query for output waits up to the query timeout set. Decoders
// ("AMFVideoDecoderUVD_H264_AVC", "AMFVideoDecoderHW_H265_HEVC") decode host buffers with libavcodec into
// NV12 surfaces in device memory (readable once converted to host memory), no more at once than the surface
// pool holds. Misuse is refused loudly: unknown properties, surfaces of another format or size, planes read
// in device memory, a component terminated while a query for output waits in it.

#include "FakeAmfObjects.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <chrono>
#include <condition_variable>
#include <deque>

namespace fakeamf {

namespace {

constexpr std::uint32_t Static = AMF_PROPERTY_ACCESS_READ | AMF_PROPERTY_ACCESS_WRITE;
constexpr std::uint32_t Runtime = Static | AMF_PROPERTY_ACCESS_WRITE_RUNTIME;

struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using CodecContext = std::unique_ptr<AVCodecContext, CodecDeleter>;

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;

std::vector<PropertyDesc> EncoderProperties(bool hevc) {
    if (!hevc)
        return {
            {L"Usage", AMF_VARIANT_INT64, Static},          {L"Profile", AMF_VARIANT_INT64, Static},
            {L"ProfileLevel", AMF_VARIANT_INT64, Static},   {L"ColorBitDepth", AMF_VARIANT_INT64, Static},
            {L"FullRangeColor", AMF_VARIANT_BOOL, Static},  {L"LowLatencyInternal", AMF_VARIANT_BOOL, Static},
            {L"QualityPreset", AMF_VARIANT_INT64, Static},  {L"FrameRate", AMF_VARIANT_RATE, Runtime},
            {L"TargetBitrate", AMF_VARIANT_INT64, Runtime}, {L"PeakBitrate", AMF_VARIANT_INT64, Runtime},
            {L"QueryTimeout", AMF_VARIANT_INT64, Runtime}};
    return {{L"HevcUsage", AMF_VARIANT_INT64, Static},
            {L"HevcProfile", AMF_VARIANT_INT64, Static},
            {L"HevcTier", AMF_VARIANT_INT64, Static},
            {L"HevcProfileLevel", AMF_VARIANT_INT64, Static},
            {L"HevcColorBitDepth", AMF_VARIANT_INT64, Static},
            {L"HevcNominalRange", AMF_VARIANT_INT64, Static},
            {L"LowLatencyInternal", AMF_VARIANT_BOOL, Static},
            {L"HevcRateControlSkipFrameEnable", AMF_VARIANT_BOOL, Static},
            {L"HevcQualityPreset", AMF_VARIANT_INT64, Static},
            {L"HevcGOPSize", AMF_VARIANT_INT64, Static},
            {L"HevcFrameRate", AMF_VARIANT_RATE, Runtime},
            {L"HevcPeakBitrate", AMF_VARIANT_INT64, Runtime},
            {L"HevcTargetBitrate", AMF_VARIANT_INT64, Runtime},
            {L"HevcQueryTimeout", AMF_VARIANT_INT64, Runtime}};
}

std::vector<PropertyDesc> DecoderProperties() {
    // Some descriptions carry other access bits, as the runtime's do.
    return {{L"TimestampMode", AMF_VARIANT_INT64, AMF_PROPERTY_ACCESS_FULL},
            {L"ReorderMode", AMF_VARIANT_INT64, Static},
            {L"LowLatencyDecode", AMF_VARIANT_BOOL, Static},
            {L"ColorRange", AMF_VARIANT_INT64, Static},
            {L"SurfaceCopy", AMF_VARIANT_BOOL, Static},
            {L"SurfaceCpu", AMF_VARIANT_BOOL, Static},
            {L"SurfacePoolSize", AMF_VARIANT_INT64, Static},
            {L"CurrentSize", AMF_VARIANT_SIZE, AMF_PROPERTY_ACCESS_NON_PERSISTANT | Static},
            {L"EnableDecoderSmartAccessVideo", AMF_VARIANT_BOOL, Static}};
}

// The queue of finished outputs a component hands out through QueryOutput.
class OutputQueue {
public:
    ~OutputQueue() { Clear(); }
    void Push(AMFData* data) {
        {
            std::lock_guard lock(m_mutex);
            m_outputs.push_back(data);
        }
        m_ready.notify_all();
    }
    // Waits up to `timeout` for an output; AMF_REPEAT with none.
    AMF_RESULT Pop(AMFData** data, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        m_ready.wait_for(lock, timeout, [this] { return !m_outputs.empty(); });
        --m_waiting;
        *data = nullptr;
        if (m_outputs.empty())
            return AMF_REPEAT;
        *data = m_outputs.front();
        m_outputs.pop_front();
        return AMF_OK;
    }
    bool Empty() {
        std::lock_guard lock(m_mutex);
        return m_outputs.empty();
    }
    int Waiting() {
        std::lock_guard lock(m_mutex);
        return m_waiting;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        for (AMFData* data : m_outputs)
            data->Release();
        m_outputs.clear();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<AMFData*> m_outputs;
    int m_waiting = 0;
};

void CopyProperties(const Properties& from, Properties& to) {
    for (const auto& [name, value] : from)
        Store(to, name.c_str(), value);
}

class Encoder final : public Component {
public:
    Encoder(Context& context, const std::wstring& id, bool hevc)
        : Component(context, id, EncoderProperties(hevc)), m_hevc(hevc) {}

    AMF_RESULT SubmitInput(AMFData* data) override;
    AMF_RESULT QueryOutput(AMFData** data) override {
        PYX_AMF_CHECK(data != nullptr, AMF_INVALID_POINTER, "null data");
        PYX_AMF_CHECK(m_initialized, AMF_NOT_INITIALIZED, "not initialised");
        return m_outputs.Pop(data,
                             std::chrono::milliseconds(Int(Name(L"QueryTimeout", L"HevcQueryTimeout"), 0)));
    }

protected:
    AMF_RESULT Open() override;
    void Close() override {
        if (m_outputs.Waiting() != 0)
            Refuse(AMF_WRONG_STATE, "Terminate", "terminated while a query for output waits in it");
        m_outputs.Clear();
        m_codec.reset();
        sws_freeContext(m_scaler);
        m_scaler = nullptr;
    }

private:
    const wchar_t* Name(const wchar_t* avc, const wchar_t* hevc) const { return m_hevc ? hevc : avc; }
    AMF_RESULT Deliver(Surface& surface);

    const bool m_hevc;
    CodecContext m_codec;
    SwsContext* m_scaler = nullptr;
    OutputQueue m_outputs;
};

AMF_RESULT Encoder::Open() {
    PYX_AMF_CHECK(m_format == AMF_SURFACE_NV12 || m_format == AMF_SURFACE_BGRA,
                  AMF_SURFACE_FORMAT_NOT_SUPPORTED, "the encoders take NV12 or BGRA");
    const AVCodec* codec = avcodec_find_encoder_by_name(m_hevc ? "libx265" : "libx264");
    PYX_AMF_CHECK(codec != nullptr, AMF_NOT_SUPPORTED, "libavcodec has no libx264/libx265 here");
    av_log_set_level(AV_LOG_ERROR);
    CodecContext context(avcodec_alloc_context3(codec));
    AMFVariantStruct rate{};
    const bool hasRate = GetProperty(Name(L"FrameRate", L"HevcFrameRate"), &rate) == AMF_OK;
    context->width = m_width;
    context->height = m_height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, 10'000'000};
    context->framerate =
        hasRate ? AVRational{int(rate.rateValue.num), int(rate.rateValue.den)} : AVRational{30, 1};
    context->gop_size = static_cast<int>(m_hevc ? Int(L"HevcGOPSize", 60) : 300);
    context->max_b_frames = 0;
    context->bit_rate = Int(Name(L"TargetBitrate", L"HevcTargetBitrate"), 5'000'000);
    context->thread_count = 1;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set_int(context->priv_data, "forced-idr", 1, 0);
    if (m_hevc)
        av_opt_set(context->priv_data, "x265-params", "log-level=error:repeat-headers=1:scenecut=0", 0);
    else
        av_opt_set(context->priv_data, "x264-params", "repeat-headers=1:scenecut=0", 0);
    PYX_AMF_CHECK(avcodec_open2(context.get(), codec, nullptr) >= 0, AMF_INVALID_ARG,
                  "the properties do not open an encoder");
    m_codec = std::move(context);
    const AVPixelFormat from = m_format == AMF_SURFACE_NV12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_BGRA;
    m_scaler = sws_getContext(m_width, m_height, from, m_width, m_height, AV_PIX_FMT_YUV420P, SWS_POINT,
                              nullptr, nullptr, nullptr);
    return AMF_OK;
}

AMF_RESULT Encoder::SubmitInput(AMFData* data) {
    PYX_AMF_CHECK(m_initialized, AMF_NOT_INITIALIZED, "not initialised");
    auto* surface = dynamic_cast<Surface*>(data);
    PYX_AMF_CHECK(surface != nullptr, AMF_INVALID_DATA_TYPE, "not a surface of this runtime");
    PYX_AMF_CHECK(surface->InHostMemory(), AMF_NOT_SUPPORTED, "the fake encodes host surfaces only");
    PYX_AMF_CHECK(surface->GetFormat() == m_format && surface->Width() == m_width &&
                      surface->Height() == m_height,
                  AMF_INVALID_RESOLUTION, "a surface of another format or size than Init's");
    if (!m_outputs.Empty())
        return AMF_INPUT_FULL; // one picture at a time
    if (InputFullAnswers() > 0) {
        --InputFullAnswers();
        return AMF_INPUT_FULL;
    }
    return Deliver(*surface);
}

AMF_RESULT Encoder::Deliver(Surface& surface) {
    const AMFVariantStruct* forced =
        Find(surface.m_properties, Name(L"ForcePictureType", L"HevcForcePictureType"));
    const std::int64_t forcedType = forced != nullptr ? forced->int64Value : 0;
    {
        std::lock_guard lock(Mutex());
        Seen().forcedPictureTypes.push_back(forcedType);
    }
    Frame frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = m_width;
    frame->height = m_height;
    av_frame_get_buffer(frame.get(), 0);
    const std::uint8_t* planes[2] = {static_cast<std::uint8_t*>(surface.PlaneAt(0).GetNative()), nullptr};
    int pitches[2] = {surface.PlaneAt(0).GetHPitch(), 0};
    if (surface.GetPlanesCount() > 1) {
        planes[1] = static_cast<std::uint8_t*>(surface.PlaneAt(1).GetNative());
        pitches[1] = surface.PlaneAt(1).GetHPitch();
    }
    sws_scale(m_scaler, planes, pitches, 0, m_height, frame->data, frame->linesize);
    frame->pts = surface.GetPts();
    if (forcedType == 2) { // IDR
        frame->pict_type = AV_PICTURE_TYPE_I;
        frame->key_frame = 1;
    }
    PYX_AMF_CHECK(avcodec_send_frame(m_codec.get(), frame.get()) >= 0, AMF_FAIL,
                  "the encoder refused a picture");
    AVPacket* packet = av_packet_alloc();
    while (avcodec_receive_packet(m_codec.get(), packet) >= 0) {
        auto* buffer = new Buffer(std::size_t(packet->size));
        std::memcpy(buffer->GetNative(), packet->data, std::size_t(packet->size));
        buffer->SetPts(surface.GetPts());
        buffer->SetDuration(surface.GetDuration());
        CopyProperties(surface.m_properties, buffer->m_properties);
        const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        Store(buffer->m_properties, Name(L"OutputDataType", L"HevcOutputDataType"),
              {AMF_VARIANT_INT64, {.int64Value = key ? 0 : 2}}); // IDR or P
        Store(buffer->m_properties, Name(L"OutputBufferType", L"HevcOutputBufferType"),
              {AMF_VARIANT_INT64, {.int64Value = 0}}); // a whole frame
        m_outputs.Push(buffer);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return AMF_OK;
}

class Decoder final : public Component {
public:
    Decoder(Context& context, const std::wstring& id, bool hevc)
        : Component(context, id, DecoderProperties()), m_hevc(hevc) {}

    AMF_RESULT SubmitInput(AMFData* data) override;
    AMF_RESULT QueryOutput(AMFData** data) override {
        PYX_AMF_CHECK(data != nullptr, AMF_INVALID_POINTER, "null data");
        PYX_AMF_CHECK(m_initialized, AMF_NOT_INITIALIZED, "not initialised");
        return m_outputs.Pop(data, std::chrono::milliseconds(0));
    }

protected:
    AMF_RESULT Open() override {
        PYX_AMF_CHECK(m_format == AMF_SURFACE_NV12, AMF_SURFACE_FORMAT_NOT_SUPPORTED,
                      "the decoders make NV12");
        const AVCodec* codec = avcodec_find_decoder(m_hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
        CodecContext context(avcodec_alloc_context3(codec));
        context->thread_count = 1;
        context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        PYX_AMF_CHECK(avcodec_open2(context.get(), codec, nullptr) >= 0, AMF_FAIL, "no decoder");
        m_codec = std::move(context);
        return AMF_OK;
    }
    void Close() override {
        m_outputs.Clear();
        m_codec.reset();
    }

private:
    const bool m_hevc;
    CodecContext m_codec;
    OutputQueue m_outputs;
    std::shared_ptr<void> m_pool = std::make_shared<int>(0); // held by every surface handed out
};

AMF_RESULT Decoder::SubmitInput(AMFData* data) {
    PYX_AMF_CHECK(m_initialized, AMF_NOT_INITIALIZED, "not initialised");
    auto* buffer = dynamic_cast<Buffer*>(data);
    PYX_AMF_CHECK(buffer != nullptr, AMF_INVALID_DATA_TYPE, "not a buffer of this runtime");
    AVPacket* packet = av_packet_alloc();
    packet->data = static_cast<std::uint8_t*>(buffer->GetNative());
    packet->size = static_cast<int>(buffer->GetSize());
    packet->pts = buffer->GetPts();
    // A hardware decoder drops what it cannot decode; the caller sees no picture.
    const bool sent = avcodec_send_packet(m_codec.get(), packet) >= 0;
    av_packet_free(&packet);
    Frame frame(av_frame_alloc());
    while (sent && avcodec_receive_frame(m_codec.get(), frame.get()) >= 0) {
        const long held = m_pool.use_count() - 1;
        PYX_AMF_CHECK(held < Int(L"SurfacePoolSize", 16), AMF_DECODER_NO_FREE_SURFACES,
                      "every surface of the pool is still held by the caller");
        auto* surface = new Surface(AMF_MEMORY_VULKAN, AMF_SURFACE_NV12, frame->width, frame->height);
        surface->m_poolSlot = m_pool;
        std::uint8_t* luma = surface->PlaneAt(0).Bytes();
        const int pitch = surface->PlaneAt(0).GetHPitch();
        for (int y = 0; y < frame->height; ++y)
            std::memcpy(luma + y * pitch, frame->data[0] + y * frame->linesize[0], std::size_t(frame->width));
        std::uint8_t* chroma = luma + std::size_t(pitch) * frame->height;
        for (int y = 0; y < frame->height / 2; ++y)
            for (int x = 0; x < frame->width / 2; ++x) {
                chroma[y * pitch + 2 * x] = frame->data[1][y * frame->linesize[1] + x];
                chroma[y * pitch + 2 * x + 1] = frame->data[2][y * frame->linesize[2] + x];
            }
        surface->SetPts(buffer->GetPts());
        surface->SetDuration(buffer->GetDuration());
        CopyProperties(buffer->m_properties, surface->m_properties);
        m_outputs.Push(surface);
    }
    return AMF_OK;
}

} // namespace

Component* CreateCodec(Context& context, const std::wstring& id) {
    if (id == L"AMFVideoEncoderVCE_AVC" || id == L"AMFVideoEncoderHW_HEVC")
        return new Encoder(context, id, id == L"AMFVideoEncoderHW_HEVC");
    if (id == L"AMFVideoDecoderUVD_H264_AVC" || id == L"AMFVideoDecoderHW_H265_HEVC")
        return new Decoder(context, id, id == L"AMFVideoDecoderHW_H265_HEVC");
    return nullptr;
}

} // namespace fakeamf
