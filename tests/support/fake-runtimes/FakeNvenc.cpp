// An NVENC runtime as the Linux driver offers it, encoding on the processor: sessions on a CUDA context,
// CUDA device memory registered as input, synchronous encoding (no completion events on Linux) into
// bitstream buffers that are locked, read and unlocked. Pictures are encoded by libavcodec (libx264 for
// H.264, libx265 for HEVC), so the output is a real stream. It keeps the API's rules and refuses, loudly,
// whatever breaks them: wrong structure versions, an unknown handle, a buffer encoded into before its
// previous picture was unlocked, a mapped input unregistered, a session destroyed with resources still held.

#include "Codec/NvidiaEntryPoints.h"
#include "FakeNvencObservations.h"
#include "FakeRuntime.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace {

std::atomic<std::uint32_t> s_maxVersion{(NVENCAPI_MAJOR_VERSION << 4) | NVENCAPI_MINOR_VERSION};
std::atomic<bool> s_leaveOutFirst{false};
std::atomic<bool> s_noEncoder{false};
std::mutex s_mutex; // one lock for everything: the fake is not about speed
FakeNvencObservations s_seen;

NVENCSTATUS Refuse(NVENCSTATUS status, const char* entry, const char* why) {
    ++s_seen.complaints;
    FakeRuntimeComplaint("NVENC", "%s: %s", entry, why);
    return status;
}

#define PYX_CHECK(condition, status, why)                                                                    \
    if (!(condition))                                                                                        \
    return Refuse(status, __func__, why)

struct Registration {
    CUdeviceptr memory;
    std::uint32_t width, height, pitch;
    NV_ENC_BUFFER_FORMAT format;
    bool mapped = false;
};

struct Bitstream {
    std::vector<std::uint8_t> data;
    bool filled = false; // holds a picture not yet unlocked
    bool locked = false;
    std::uint32_t frameIdx = 0;
    std::uint64_t timestamp = 0;
    std::uint64_t duration = 0;
    NV_ENC_PIC_TYPE pictureType = NV_ENC_PIC_TYPE_UNKNOWN;
};

struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

struct Session {
    void* cudaContext = nullptr;
    bool initialized = false;
    GUID codec{};
    GUID preset{};
    NV_ENC_TUNING_INFO tuning = NV_ENC_TUNING_INFO_UNDEFINED;
    NV_ENC_INITIALIZE_PARAMS init{};
    NV_ENC_CONFIG config{};
    std::unique_ptr<AVCodecContext, CodecDeleter> encoder;
    SwsContext* scaler = nullptr;
    std::set<Registration*> registrations;
    std::set<Bitstream*> bitstreams;
    std::int64_t nextPts = 0;
    bool idrDue = false;

    ~Session() {
        sws_freeContext(scaler);
        for (Registration* r : registrations)
            delete r;
        for (Bitstream* b : bitstreams)
            delete b;
    }
};

std::set<Session*> s_sessions;

Session* Find(void* encoder) {
    auto* session = static_cast<Session*>(encoder);
    return s_sessions.count(session) != 0 ? session : nullptr;
}

const char* X26xPreset(const GUID& preset) {
    const GUID* presets[] = {&NV_ENC_PRESET_P1_GUID, &NV_ENC_PRESET_P2_GUID, &NV_ENC_PRESET_P3_GUID,
                             &NV_ENC_PRESET_P4_GUID, &NV_ENC_PRESET_P5_GUID, &NV_ENC_PRESET_P6_GUID,
                             &NV_ENC_PRESET_P7_GUID};
    const char* names[] = {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow"};
    for (int i = 0; i < 7; ++i)
        if (std::memcmp(&preset, presets[i], sizeof(GUID)) == 0)
            return names[i];
    return nullptr;
}

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// (Re)opens the libavcodec encoder for the session's current parameters.
NVENCSTATUS OpenEncoder(Session& s, const char* entry) {
    const bool hevc = SameGuid(s.codec, NV_ENC_CODEC_HEVC_GUID);
    const AVCodec* codec = avcodec_find_encoder_by_name(hevc ? "libx265" : "libx264");
    if (codec == nullptr)
        return Refuse(NV_ENC_ERR_NO_ENCODE_DEVICE, entry, "libavcodec has no libx264/libx265 here");
    std::unique_ptr<AVCodecContext, CodecDeleter> context(avcodec_alloc_context3(codec));
    context->width = static_cast<int>(s.init.encodeWidth);
    context->height = static_cast<int>(s.init.encodeHeight);
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, 10'000'000};
    context->framerate =
        AVRational{static_cast<int>(s.init.frameRateNum), static_cast<int>(s.init.frameRateDen)};
    const std::uint32_t gop = s.config.gopLength;
    context->gop_size = gop == NVENC_INFINITE_GOPLENGTH ? (1 << 30) : static_cast<int>(gop);
    context->max_b_frames = 0;
    context->bit_rate = s.config.rcParams.averageBitRate;
    context->rc_max_rate = s.config.rcParams.maxBitRate;
    context->rc_buffer_size = static_cast<int>(s.config.rcParams.averageBitRate);
    context->thread_count = 1;
    av_opt_set(context->priv_data, "preset", X26xPreset(s.preset), 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set_int(context->priv_data, "forced-idr", 1, 0);
    if (hevc)
        av_opt_set(context->priv_data, "x265-params", "log-level=error:repeat-headers=1:scenecut=0", 0);
    else
        av_opt_set(context->priv_data, "x264-params", "repeat-headers=1:scenecut=0", 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return Refuse(NV_ENC_ERR_INVALID_PARAM, entry, "the parameters do not open an encoder");
    s.encoder = std::move(context);
    s.idrDue = true;
    return NV_ENC_SUCCESS;
}

AVPixelFormat PixelFormat(NV_ENC_BUFFER_FORMAT format) {
    switch (format) {
    case NV_ENC_BUFFER_FORMAT_NV12:
        return AV_PIX_FMT_NV12;
    case NV_ENC_BUFFER_FORMAT_ARGB:
        return AV_PIX_FMT_BGRA; // NVENC's ARGB is B, G, R, A in memory
    case NV_ENC_BUFFER_FORMAT_ABGR:
        return AV_PIX_FMT_RGBA;
    default:
        return AV_PIX_FMT_NONE;
    }
}

std::size_t RowBytes(const Registration& r) {
    return r.format == NV_ENC_BUFFER_FORMAT_NV12 ? r.width : std::size_t(r.width) * 4;
}

std::size_t Rows(const Registration& r) {
    return r.format == NV_ENC_BUFFER_FORMAT_NV12 ? r.height + r.height / 2 : r.height;
}

// Whether the CUDA driver in the process (the fake one) allocated this memory.
bool IsDeviceMemory(CUdeviceptr memory, std::size_t bytes) {
    using Check = bool (*)(CUdeviceptr, std::size_t);
    static const Check check = [] {
        void* cuda = dlopen("libcuda.so.1", RTLD_NOW | RTLD_NOLOAD);
        return cuda != nullptr ? reinterpret_cast<Check>(dlsym(cuda, "fakeCudaIsDeviceMemory")) : nullptr;
    }();
    return check == nullptr || check(memory, bytes);
}

NVENCSTATUS NVENCAPI OpenEncodeSessionEx(NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS* params, void** encoder) {
    std::lock_guard lock(s_mutex);
    PYX_CHECK(params && encoder, NV_ENC_ERR_INVALID_PTR, "null parameters or encoder");
    PYX_CHECK(params->version == NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS_VER, NV_ENC_ERR_INVALID_VERSION,
              "structure version");
    PYX_CHECK(params->apiVersion == NVENCAPI_VERSION, NV_ENC_ERR_INVALID_VERSION, "API version");
    PYX_CHECK(params->deviceType == NV_ENC_DEVICE_TYPE_CUDA, NV_ENC_ERR_UNSUPPORTED_DEVICE,
              "Linux sessions run on a CUDA context");
    PYX_CHECK(params->device != nullptr, NV_ENC_ERR_INVALID_DEVICE, "null CUDA context");
    if (s_noEncoder)
        return NV_ENC_ERR_NO_ENCODE_DEVICE; // the driver's answer on a GPU without NVENC, not a misuse
    auto* session = new Session;
    session->cudaContext = params->device;
    s_sessions.insert(session);
    s_seen.openSessions = static_cast<int>(s_sessions.size());
    s_seen.registrationsMade = 0;
    s_seen.framesEncoded = 0;
    *encoder = session;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI GetEncodePresetConfigEx(void* encoder, GUID codec, GUID preset,
                                             NV_ENC_TUNING_INFO tuning, NV_ENC_PRESET_CONFIG* config) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s, NV_ENC_ERR_INVALID_ENCODERDEVICE, "not a session");
    PYX_CHECK(config, NV_ENC_ERR_INVALID_PTR, "null configuration");
    PYX_CHECK(config->version == NV_ENC_PRESET_CONFIG_VER && config->presetCfg.version == NV_ENC_CONFIG_VER,
              NV_ENC_ERR_INVALID_VERSION, "structure version");
    PYX_CHECK(SameGuid(codec, NV_ENC_CODEC_H264_GUID) || SameGuid(codec, NV_ENC_CODEC_HEVC_GUID),
              NV_ENC_ERR_UNSUPPORTED_PARAM, "codec");
    PYX_CHECK(X26xPreset(preset) != nullptr, NV_ENC_ERR_UNSUPPORTED_PARAM, "preset");
    PYX_CHECK(tuning >= NV_ENC_TUNING_INFO_HIGH_QUALITY && tuning <= NV_ENC_TUNING_INFO_LOSSLESS,
              NV_ENC_ERR_UNSUPPORTED_PARAM, "tuning");
    s_seen.codecGuid = codec;
    s_seen.presetGuid = preset;
    s_seen.tuningInfo = tuning;
    NV_ENC_CONFIG& c = config->presetCfg;
    const std::uint32_t version = c.version;
    std::memset(&c, 0, sizeof(c));
    c.version = version;
    c.profileGUID = NV_ENC_CODEC_PROFILE_AUTOSELECT_GUID;
    c.gopLength = 250;
    c.frameIntervalP = tuning == NV_ENC_TUNING_INFO_HIGH_QUALITY ? 3 : 1;
    c.rcParams.version = NV_ENC_RC_PARAMS_VER;
    c.rcParams.rateControlMode = NV_ENC_PARAMS_RC_VBR;
    c.rcParams.averageBitRate = 5'000'000;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI InitializeEncoder(void* encoder, NV_ENC_INITIALIZE_PARAMS* params) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s, NV_ENC_ERR_INVALID_ENCODERDEVICE, "not a session");
    PYX_CHECK(!s->initialized, NV_ENC_ERR_INVALID_CALL, "already initialised");
    PYX_CHECK(params && params->encodeConfig, NV_ENC_ERR_INVALID_PTR, "null parameters or configuration");
    PYX_CHECK(params->version == NV_ENC_INITIALIZE_PARAMS_VER &&
                  params->encodeConfig->version == NV_ENC_CONFIG_VER &&
                  params->encodeConfig->rcParams.version == NV_ENC_RC_PARAMS_VER,
              NV_ENC_ERR_INVALID_VERSION, "structure version");
    PYX_CHECK(params->enableEncodeAsync == 0, NV_ENC_ERR_UNSUPPORTED_PARAM,
              "asynchronous encoding does not exist on Linux");
    PYX_CHECK(params->encodeWidth > 0 && params->encodeHeight > 0 && params->frameRateNum > 0 &&
                  params->frameRateDen > 0,
              NV_ENC_ERR_INVALID_PARAM, "size or frame rate");
    PYX_CHECK(params->encodeConfig->frameIntervalP == 1, NV_ENC_ERR_UNSUPPORTED_PARAM,
              "B frames are not offered by this runtime");
    s->codec = params->encodeGUID;
    s->preset = params->presetGUID;
    s->tuning = params->tuningInfo;
    s->init = *params;
    s->config = *params->encodeConfig;
    s->init.encodeConfig = nullptr;
    if (const NVENCSTATUS status = OpenEncoder(*s, __func__); status != NV_ENC_SUCCESS)
        return status;
    s->initialized = true;
    s_seen.init = s->init;
    s_seen.config = s->config;
    s_seen.reconfigures = 0;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI ReconfigureEncoder(void* encoder, NV_ENC_RECONFIGURE_PARAMS* params) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s && s->initialized, NV_ENC_ERR_ENCODER_NOT_INITIALIZED, "not an initialised session");
    PYX_CHECK(params && params->reInitEncodeParams.encodeConfig, NV_ENC_ERR_INVALID_PTR, "null parameters");
    const NV_ENC_INITIALIZE_PARAMS& init = params->reInitEncodeParams;
    PYX_CHECK(params->version == NV_ENC_RECONFIGURE_PARAMS_VER &&
                  init.version == NV_ENC_INITIALIZE_PARAMS_VER &&
                  init.encodeConfig->version == NV_ENC_CONFIG_VER,
              NV_ENC_ERR_INVALID_VERSION, "structure version");
    PYX_CHECK(SameGuid(init.encodeGUID, s->codec) && init.enableEncodeAsync == s->init.enableEncodeAsync,
              NV_ENC_ERR_INVALID_PARAM, "the codec and the mode cannot change");
    // Without room stated at initialisation, the size cannot grow.
    const std::uint32_t maxWidth = s->init.maxEncodeWidth != 0 ? s->init.maxEncodeWidth : s->init.encodeWidth;
    const std::uint32_t maxHeight =
        s->init.maxEncodeHeight != 0 ? s->init.maxEncodeHeight : s->init.encodeHeight;
    PYX_CHECK(init.encodeWidth <= maxWidth && init.encodeHeight <= maxHeight, NV_ENC_ERR_INVALID_PARAM,
              "larger than the session's maximum size");
    const bool sizeChanged =
        init.encodeWidth != s->init.encodeWidth || init.encodeHeight != s->init.encodeHeight;
    s->init = init;
    s->init.maxEncodeWidth = maxWidth;
    s->init.maxEncodeHeight = maxHeight;
    s->config = *init.encodeConfig;
    s->init.encodeConfig = nullptr;
    if (sizeChanged || params->resetEncoder) {
        if (const NVENCSTATUS status = OpenEncoder(*s, __func__); status != NV_ENC_SUCCESS)
            return status;
    } else {
        // libx264 takes new rates at its next picture.
        s->encoder->bit_rate = s->config.rcParams.averageBitRate;
        s->encoder->rc_max_rate = s->config.rcParams.maxBitRate;
        s->encoder->rc_buffer_size = static_cast<int>(s->config.rcParams.averageBitRate);
    }
    s->idrDue = s->idrDue || params->forceIDR;
    ++s_seen.reconfigures;
    s_seen.reconfigured = s->init;
    s_seen.reconfiguredConfig = s->config;
    s_seen.reconfiguredReset = params->resetEncoder != 0;
    s_seen.reconfiguredForceIdr = params->forceIDR != 0;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI CreateBitstreamBuffer(void* encoder, NV_ENC_CREATE_BITSTREAM_BUFFER* params) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s && s->initialized, NV_ENC_ERR_ENCODER_NOT_INITIALIZED, "not an initialised session");
    PYX_CHECK(params, NV_ENC_ERR_INVALID_PTR, "null parameters");
    PYX_CHECK(params->version == NV_ENC_CREATE_BITSTREAM_BUFFER_VER, NV_ENC_ERR_INVALID_VERSION,
              "structure version");
    auto* buffer = new Bitstream;
    s->bitstreams.insert(buffer);
    params->bitstreamBuffer = buffer;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI DestroyBitstreamBuffer(void* encoder, NV_ENC_OUTPUT_PTR buffer) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s, NV_ENC_ERR_INVALID_ENCODERDEVICE, "not a session");
    auto* b = static_cast<Bitstream*>(buffer);
    PYX_CHECK(s->bitstreams.count(b) != 0, NV_ENC_ERR_INVALID_PARAM, "not a buffer of this session");
    PYX_CHECK(!b->locked, NV_ENC_ERR_LOCK_BUSY, "the buffer is locked");
    s->bitstreams.erase(b);
    delete b;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI RegisterResource(void* encoder, NV_ENC_REGISTER_RESOURCE* params) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s && s->initialized, NV_ENC_ERR_ENCODER_NOT_INITIALIZED, "not an initialised session");
    PYX_CHECK(params, NV_ENC_ERR_INVALID_PTR, "null parameters");
    PYX_CHECK(params->version == NV_ENC_REGISTER_RESOURCE_VER, NV_ENC_ERR_INVALID_VERSION,
              "structure version");
    PYX_CHECK(params->resourceType == NV_ENC_INPUT_RESOURCE_TYPE_CUDADEVICEPTR, NV_ENC_ERR_UNIMPLEMENTED,
              "only CUDA device memory is offered on Linux");
    PYX_CHECK(params->bufferUsage == NV_ENC_INPUT_IMAGE, NV_ENC_ERR_INVALID_PARAM, "usage");
    PYX_CHECK(PixelFormat(params->bufferFormat) != AV_PIX_FMT_NONE, NV_ENC_ERR_UNSUPPORTED_PARAM,
              "buffer format");
    Registration r{reinterpret_cast<CUdeviceptr>(params->resourceToRegister), params->width, params->height,
                   params->pitch, params->bufferFormat};
    PYX_CHECK(r.width > 0 && r.height > 0 && r.pitch >= RowBytes(r), NV_ENC_ERR_INVALID_PARAM,
              "size, or a pitch below the row width");
    PYX_CHECK(IsDeviceMemory(r.memory, std::size_t(r.pitch) * (Rows(r) - 1) + RowBytes(r)),
              NV_ENC_ERR_INVALID_PARAM, "not CUDA device memory large enough for the picture");
    auto* registration = new Registration(r);
    s->registrations.insert(registration);
    params->registeredResource = registration;
    s_seen.registrations = static_cast<int>(s->registrations.size());
    ++s_seen.registrationsMade;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI UnregisterResource(void* encoder, NV_ENC_REGISTERED_PTR resource) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s, NV_ENC_ERR_INVALID_ENCODERDEVICE, "not a session");
    auto* r = static_cast<Registration*>(resource);
    PYX_CHECK(s->registrations.count(r) != 0, NV_ENC_ERR_RESOURCE_NOT_REGISTERED, "not registered");
    PYX_CHECK(!r->mapped, NV_ENC_ERR_RESOURCE_REGISTER_FAILED, "still mapped: unmap first");
    s->registrations.erase(r);
    delete r;
    s_seen.registrations = static_cast<int>(s->registrations.size());
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI MapInputResource(void* encoder, NV_ENC_MAP_INPUT_RESOURCE* params) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s, NV_ENC_ERR_INVALID_ENCODERDEVICE, "not a session");
    PYX_CHECK(params, NV_ENC_ERR_INVALID_PTR, "null parameters");
    PYX_CHECK(params->version == NV_ENC_MAP_INPUT_RESOURCE_VER, NV_ENC_ERR_INVALID_VERSION,
              "structure version");
    auto* r = static_cast<Registration*>(params->registeredResource);
    PYX_CHECK(s->registrations.count(r) != 0, NV_ENC_ERR_RESOURCE_NOT_REGISTERED, "not registered");
    PYX_CHECK(!r->mapped, NV_ENC_ERR_RESOURCE_REGISTER_FAILED, "already mapped");
    r->mapped = true;
    params->mappedResource = r; // a mapping is its registration here
    params->mappedBufferFmt = r->format;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI UnmapInputResource(void* encoder, NV_ENC_INPUT_PTR mapped) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s, NV_ENC_ERR_INVALID_ENCODERDEVICE, "not a session");
    auto* r = static_cast<Registration*>(mapped);
    PYX_CHECK(s->registrations.count(r) != 0 && r->mapped, NV_ENC_ERR_RESOURCE_NOT_MAPPED, "not mapped");
    r->mapped = false;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS Encode(Session& s, const Registration& input, Bitstream& output, bool forceIdr) {
    const auto* memory = reinterpret_cast<const std::uint8_t*>(input.memory);
    const AVPixelFormat format = PixelFormat(input.format);
    s.scaler = sws_getCachedContext(s.scaler, static_cast<int>(input.width), static_cast<int>(input.height),
                                    format, s.encoder->width, s.encoder->height, AV_PIX_FMT_YUV420P,
                                    SWS_BILINEAR, nullptr, nullptr, nullptr);
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                       [](AVFrame* f) { av_frame_free(&f); });
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = s.encoder->width;
    frame->height = s.encoder->height;
    if (s.scaler == nullptr || av_frame_get_buffer(frame.get(), 0) < 0)
        return Refuse(NV_ENC_ERR_OUT_OF_MEMORY, "nvEncEncodePicture", "no picture for libavcodec");
    const std::uint8_t* planes[2] = {memory, memory + std::size_t(input.pitch) * input.height};
    const int pitches[2] = {static_cast<int>(input.pitch), static_cast<int>(input.pitch)};
    sws_scale(s.scaler, planes, pitches, 0, static_cast<int>(input.height), frame->data, frame->linesize);
    frame->pts = s.nextPts++;
    if (forceIdr || s.idrDue)
        frame->pict_type = AV_PICTURE_TYPE_I;
    s.idrDue = false;
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                          [](AVPacket* p) { av_packet_free(&p); });
    if (avcodec_send_frame(s.encoder.get(), frame.get()) < 0 ||
        avcodec_receive_packet(s.encoder.get(), packet.get()) < 0)
        return Refuse(NV_ENC_ERR_GENERIC, "nvEncEncodePicture", "libavcodec held the picture back");
    output.data.assign(packet->data, packet->data + packet->size);
    output.pictureType = (packet->flags & AV_PKT_FLAG_KEY) != 0 ? NV_ENC_PIC_TYPE_IDR : NV_ENC_PIC_TYPE_P;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI EncodePicture(void* encoder, NV_ENC_PIC_PARAMS* params) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s && s->initialized, NV_ENC_ERR_ENCODER_NOT_INITIALIZED, "not an initialised session");
    PYX_CHECK(params, NV_ENC_ERR_INVALID_PTR, "null parameters");
    PYX_CHECK(params->version == NV_ENC_PIC_PARAMS_VER, NV_ENC_ERR_INVALID_VERSION, "structure version");
    auto* input = static_cast<Registration*>(params->inputBuffer);
    PYX_CHECK(s->registrations.count(input) != 0 && input->mapped, NV_ENC_ERR_RESOURCE_NOT_MAPPED,
              "the input is not a mapped resource");
    auto* output = static_cast<Bitstream*>(params->outputBitstream);
    PYX_CHECK(s->bitstreams.count(output) != 0, NV_ENC_ERR_INVALID_PARAM, "not a bitstream buffer");
    PYX_CHECK(!output->filled && !output->locked, NV_ENC_ERR_LOCK_BUSY,
              "the buffer still holds a picture: lock and unlock it first");
    PYX_CHECK(params->completionEvent == nullptr, NV_ENC_ERR_INVALID_PARAM,
              "completion events do not exist on Linux");
    PYX_CHECK(params->bufferFmt == input->format, NV_ENC_ERR_INVALID_PARAM,
              "format differs from the mapping's");
    PYX_CHECK(params->pictureStruct == NV_ENC_PIC_STRUCT_FRAME, NV_ENC_ERR_UNSUPPORTED_PARAM, "fields");
    PYX_CHECK(params->inputWidth == input->width && params->inputHeight == input->height &&
                  params->inputWidth == s->init.encodeWidth && params->inputHeight == s->init.encodeHeight,
              NV_ENC_ERR_INVALID_PARAM, "the picture is not of the session's size");
    PYX_CHECK((params->encodePicFlags & ~std::uint32_t(NV_ENC_PIC_FLAG_FORCEIDR)) == 0,
              NV_ENC_ERR_UNSUPPORTED_PARAM, "flags");
    const bool forceIdr = (params->encodePicFlags & NV_ENC_PIC_FLAG_FORCEIDR) != 0;
    if (const NVENCSTATUS status = Encode(*s, *input, *output, forceIdr); status != NV_ENC_SUCCESS)
        return status;
    output->filled = true;
    output->frameIdx = params->frameIdx;
    output->timestamp = params->inputTimeStamp;
    output->duration = params->inputDuration;
    if (s_seen.framesEncoded < FakeNvencObservations::MaxFrames) {
        s_seen.picFlags[s_seen.framesEncoded] = params->encodePicFlags;
        s_seen.pictureTypes[s_seen.framesEncoded] = output->pictureType;
    }
    ++s_seen.framesEncoded;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI LockBitstream(void* encoder, NV_ENC_LOCK_BITSTREAM* params) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s, NV_ENC_ERR_INVALID_ENCODERDEVICE, "not a session");
    PYX_CHECK(params, NV_ENC_ERR_INVALID_PTR, "null parameters");
    PYX_CHECK(params->version == NV_ENC_LOCK_BITSTREAM_VER, NV_ENC_ERR_INVALID_VERSION, "structure version");
    auto* b = static_cast<Bitstream*>(params->outputBitstream);
    PYX_CHECK(s->bitstreams.count(b) != 0, NV_ENC_ERR_INVALID_PARAM, "not a bitstream buffer");
    PYX_CHECK(!b->locked, NV_ENC_ERR_LOCK_BUSY, "already locked");
    // A synchronous runtime waits for nothing: a buffer without a picture is a caller's mistake.
    PYX_CHECK(b->filled, NV_ENC_ERR_INVALID_CALL, "no picture was encoded into the buffer");
    b->locked = true;
    params->frameIdx = b->frameIdx;
    params->hwEncodeStatus = 0;
    params->numSlices = 1;
    params->bitstreamSizeInBytes = static_cast<std::uint32_t>(b->data.size());
    params->outputTimeStamp = b->timestamp;
    params->outputDuration = b->duration;
    params->bitstreamBufferPtr = b->data.data();
    params->pictureType = b->pictureType;
    params->pictureStruct = NV_ENC_PIC_STRUCT_FRAME;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI UnlockBitstream(void* encoder, NV_ENC_OUTPUT_PTR buffer) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s, NV_ENC_ERR_INVALID_ENCODERDEVICE, "not a session");
    auto* b = static_cast<Bitstream*>(buffer);
    PYX_CHECK(s->bitstreams.count(b) != 0 && b->locked, NV_ENC_ERR_INVALID_PARAM, "not a locked buffer");
    b->locked = false;
    b->filled = false;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI DestroyEncoder(void* encoder) {
    std::lock_guard lock(s_mutex);
    Session* s = Find(encoder);
    PYX_CHECK(s, NV_ENC_ERR_INVALID_ENCODERDEVICE, "not a session");
    s_sessions.erase(s);
    s_seen.openSessions = static_cast<int>(s_sessions.size());
    s_seen.registrations = 0;
    const bool leaked = !s->registrations.empty() || !s->bitstreams.empty();
    delete s;
    PYX_CHECK(!leaked, NV_ENC_ERR_INVALID_CALL, "destroyed with registrations or buffers still held");
    return NV_ENC_SUCCESS;
}

#define PYX_FAKE_NVENC_STUB(member, listField)                                                               \
    NVENCSTATUS NVENCAPI Unsupported##member(...) {                                                          \
        std::lock_guard lock(s_mutex);                                                                       \
        return Refuse(NV_ENC_ERR_UNIMPLEMENTED, #listField, "not implemented");                              \
    }
KIV_NV_NVENC_FUNCTIONS(PYX_FAKE_NVENC_STUB)

const char* NVENCAPI LastErrorString(void*) { return "fake NVENC: see its complaints on standard error"; }

} // namespace

extern "C" __attribute__((visibility("default"))) void fakeNvencSetMaxVersion(std::uint32_t version) {
    s_maxVersion = version;
}

// A GPU without NVENC: sessions cannot be opened.
extern "C" __attribute__((visibility("default"))) void fakeNvencSetNoEncoder(bool noEncoder) {
    s_noEncoder = noEncoder;
}

// A runtime whose list lacks a function, as an incomplete driver installation would give.
extern "C" __attribute__((visibility("default"))) void fakeNvencLeaveOutFirstFunction(bool leaveOut) {
    s_leaveOutFirst = leaveOut;
}

extern "C" __attribute__((visibility("default"))) FakeNvencObservations fakeNvencObservations() {
    std::lock_guard lock(s_mutex);
    return s_seen;
}

extern "C" __attribute__((visibility("default"))) NVENCSTATUS NVENCAPI
NvEncodeAPIGetMaxSupportedVersion(uint32_t* version) {
    if (version == nullptr) {
        FakeRuntimeComplaint("NVENC", "NvEncodeAPIGetMaxSupportedVersion: null version");
        return NV_ENC_ERR_INVALID_PTR;
    }
    *version = s_maxVersion;
    return NV_ENC_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) NVENCSTATUS NVENCAPI
NvEncodeAPICreateInstance(NV_ENCODE_API_FUNCTION_LIST* functions) {
    if (functions == nullptr) {
        FakeRuntimeComplaint("NVENC", "NvEncodeAPICreateInstance: null function list");
        return NV_ENC_ERR_INVALID_PTR;
    }
    if (functions->version != NV_ENCODE_API_FUNCTION_LIST_VER) {
        FakeRuntimeComplaint("NVENC", "NvEncodeAPICreateInstance: list version 0x%08X", functions->version);
        return NV_ENC_ERR_INVALID_VERSION;
    }
#define PYX_FAKE_NVENC_FILL(member, listField)                                                               \
    functions->listField = reinterpret_cast<decltype(functions->listField)>(                                 \
        reinterpret_cast<void (*)()>(&Unsupported##member));
    KIV_NV_NVENC_FUNCTIONS(PYX_FAKE_NVENC_FILL)
#define PYX_FAKE_NVENC_IMPLEMENTED(X)                                                                        \
    X(OpenEncodeSessionEx)                                                                                   \
    X(GetEncodePresetConfigEx)                                                                               \
    X(InitializeEncoder)                                                                                     \
    X(ReconfigureEncoder)                                                                                    \
    X(CreateBitstreamBuffer)                                                                                 \
    X(DestroyBitstreamBuffer)                                                                                \
    X(RegisterResource)                                                                                      \
    X(UnregisterResource)                                                                                    \
    X(MapInputResource)                                                                                      \
    X(UnmapInputResource) X(EncodePicture) X(LockBitstream) X(UnlockBitstream) X(DestroyEncoder)
#define PYX_FAKE_NVENC_SET(name) functions->nvEnc##name = &name;
    PYX_FAKE_NVENC_IMPLEMENTED(PYX_FAKE_NVENC_SET)
    functions->nvEncGetLastErrorString = &LastErrorString;
    if (s_leaveOutFirst)
        functions->nvEncOpenEncodeSessionEx = nullptr;
    return NV_ENC_SUCCESS;
}
