// An NVDEC runtime that decodes on the processor: the parser splits Annex B input into pictures and decodes
// them with libavcodec, announcing the sequence, each picture to decode and each picture to display
// (after the display delay the caller asked for) through the caller's callbacks; the decoder writes the
// pictures into NV12 decode surfaces in the (fake) CUDA driver's device memory, which the caller maps and
// copies from. It keeps the API's rules and refuses, loudly, whatever breaks them: a decoder created outside
// the sequence callback's answer, more pictures mapped at once than output surfaces were asked for, an
// unmap of what is not mapped, device memory used without the context lock held.

#include "Codec/NvidiaEntryPoints.h"
#include "FakeRuntime.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <dlfcn.h>

#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace {

std::recursive_mutex s_mutex;
int s_complaints = 0;

CUresult Refuse(CUresult result, const char* entry, const char* why) {
    ++s_complaints;
    FakeRuntimeComplaint("NVDEC", "%s: %s", entry, why);
    return result;
}

#define PYX_CHECK(condition, result, why)                                                                    \
    if (!(condition))                                                                                        \
    return Refuse(CUresult(result), __func__, why)

constexpr int InvalidValue = 1;
constexpr int InvalidHandle = 400;

// The CUDA driver in the process, for device memory.
template <class F>
F* CudaEntry(const char* name) {
    void* cuda = dlopen("libcuda.so.1", RTLD_NOW | RTLD_NOLOAD);
    return cuda != nullptr ? reinterpret_cast<F*>(dlsym(cuda, name)) : nullptr;
}

struct Lock {
    CUcontext context;
    int depth = 0; // times held by the thread that holds it
};

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

struct Decoder {
    CUVIDDECODECREATEINFO info{};
    CUdeviceptr surfaces = 0;
    std::size_t pitch = 0;
    std::set<CUdeviceptr> mapped;
};

struct Parser {
    CUVIDPARSERPARAMS params{};
    AVCodecContext* codec = nullptr;
    AVCodecParserContext* splitter = nullptr;
    bool sequenced = false;
    int width = 0;
    int height = 0;
    int surfaces = 0;
    int nextIndex = 0;
    std::deque<CUVIDPARSERDISPINFO> waiting; // decoded, not yet displayed
};

std::set<Lock*> s_locks;
unsigned s_lastDisplayDelay = 0;
CUVIDDECODECREATEINFO s_lastDecoder{};
std::set<Decoder*> s_decoders;
std::set<Parser*> s_parsers;
// The picture each decode surface index is to hold, set by the parser before its decode callback.
std::map<int, std::unique_ptr<AVFrame, FrameDeleter>> s_pictures;
thread_local Lock* t_held = nullptr;

// Luma rows rounded up to even, then half as many chroma rows.
std::size_t LumaRows(const Decoder& d) { return (d.info.ulTargetHeight + 1) & ~std::size_t(1); }
std::size_t SurfaceBytes(const Decoder& d) { return d.pitch * LumaRows(d) * 3 / 2; }

CUdeviceptr Surface(const Decoder& d, int index) { return d.surfaces + CUdeviceptr(index) * SurfaceBytes(d); }

// Writes one decoded picture into a surface as NV12 at the target size (which the fake requires to be the
// display size: it does not scale).
void Store(const Decoder& d, int index, const AVFrame& frame) {
    auto* luma = reinterpret_cast<std::uint8_t*>(Surface(d, index));
    auto* chroma = luma + d.pitch * LumaRows(d);
    const unsigned width = d.info.ulTargetWidth;
    for (unsigned y = 0; y < d.info.ulTargetHeight; ++y)
        std::memcpy(luma + y * d.pitch, frame.data[0] + y * frame.linesize[0], width);
    for (unsigned y = 0; y < (d.info.ulTargetHeight + 1) / 2; ++y)
        for (unsigned x = 0; x < width / 2; ++x) {
            chroma[y * d.pitch + 2 * x] = frame.data[1][y * frame.linesize[1] + x];
            chroma[y * d.pitch + 2 * x + 1] = frame.data[2][y * frame.linesize[2] + x];
        }
}

// Announces the sequence at the start and again whenever the picture size changes, as the parser does on a
// new sequence header: before the picture is decoded. False when the callback refused.
bool Announce(Parser& p, int width, int height) {
    if (p.sequenced && width == p.width && height == p.height)
        return true;
    CUVIDEOFORMAT format{};
    format.codec = p.params.CodecType;
    format.frame_rate = {60, 1};
    format.progressive_sequence = 1;
    format.min_num_decode_surfaces = 4;
    format.coded_width = (unsigned(width) + 15) & ~15u;
    format.coded_height = (unsigned(height) + 15) & ~15u;
    format.display_area = {0, 0, width, height};
    format.chroma_format = cudaVideoChromaFormat_420;
    const int answer = p.params.pfnSequenceCallback(p.params.pUserData, &format);
    if (answer == 0)
        return false;
    p.surfaces = answer > 1 ? answer : int(p.params.ulMaxNumDecodeSurfaces);
    p.sequenced = true;
    p.width = width;
    p.height = height;
    return true;
}

// Hands the decoder's pictures to the callbacks; false when a callback refused.
bool Deliver(Parser& p, AVFrame* frame) {
    if (!Announce(p, frame->width, frame->height))
        return false;
    const int index = p.nextIndex;
    p.nextIndex = (p.nextIndex + 1) % p.surfaces;
    s_pictures[index].reset(av_frame_clone(frame));
    CUVIDPICPARAMS picture{};
    picture.PicWidthInMbs = (frame->width + 15) / 16;
    picture.FrameHeightInMbs = (frame->height + 15) / 16;
    picture.CurrPicIdx = index;
    picture.intra_pic_flag = frame->key_frame;
    if (p.params.pfnDecodePicture(p.params.pUserData, &picture) == 0)
        return false;
    CUVIDPARSERDISPINFO display{};
    display.picture_index = index;
    display.progressive_frame = 1;
    display.timestamp = frame->pts;
    p.waiting.push_back(display);
    while (p.waiting.size() > p.params.ulMaxDisplayDelay) {
        CUVIDPARSERDISPINFO next = p.waiting.front();
        p.waiting.pop_front();
        if (p.params.pfnDisplayPicture(p.params.pUserData, &next) == 0)
            return false;
    }
    return true;
}

} // namespace

// What the tests read: misuses refused so far, the latest parser's display delay and decoder description.
extern "C" __attribute__((visibility("default"))) int fakeNvdecObservations(unsigned* displayDelay,
                                                                            CUVIDDECODECREATEINFO* decoder) {
    std::lock_guard lock(s_mutex);
    *displayDelay = s_lastDisplayDelay;
    *decoder = s_lastDecoder;
    return s_complaints;
}

extern "C" __attribute__((visibility("default"))) CUresult cuvidCtxLockCreate(CUvideoctxlock* lock,
                                                                              CUcontext context) {
    std::lock_guard guard(s_mutex);
    PYX_CHECK(lock && context, InvalidValue, "null lock or context");
    auto* created = new Lock{context};
    s_locks.insert(created);
    *lock = reinterpret_cast<CUvideoctxlock>(created);
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuvidCtxLockDestroy(CUvideoctxlock lock) {
    std::lock_guard guard(s_mutex);
    auto* l = reinterpret_cast<Lock*>(lock);
    PYX_CHECK(s_locks.count(l) != 0, InvalidHandle, "not a lock");
    PYX_CHECK(l->depth == 0, InvalidValue, "destroyed while held");
    s_locks.erase(l);
    delete l;
    return CUDA_SUCCESS;
}

// Holding the lock makes its context current, as the driver's lock does.
extern "C" __attribute__((visibility("default"))) CUresult cuvidCtxLock(CUvideoctxlock lock,
                                                                        unsigned int flags) {
    auto* l = reinterpret_cast<Lock*>(lock);
    {
        std::lock_guard guard(s_mutex);
        PYX_CHECK(s_locks.count(l) != 0 && flags == 0, InvalidHandle, "not a lock, or flags");
    }
    static auto* push = CudaEntry<tcuCtxPushCurrent_v2>("cuCtxPushCurrent_v2");
    if (push == nullptr || push(l->context) != CUDA_SUCCESS)
        return Refuse(CUresult(InvalidValue), __func__, "the lock's context cannot be made current");
    ++l->depth;
    t_held = l;
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuvidCtxUnlock(CUvideoctxlock lock,
                                                                          unsigned int flags) {
    auto* l = reinterpret_cast<Lock*>(lock);
    PYX_CHECK(t_held == l && l->depth > 0 && flags == 0, InvalidValue, "not held by this thread");
    static auto* pop = CudaEntry<tcuCtxPopCurrent_v2>("cuCtxPopCurrent_v2");
    pop(nullptr);
    if (--l->depth == 0)
        t_held = nullptr;
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuvidCreateVideoParser(CUvideoparser* parser,
                                                                                  CUVIDPARSERPARAMS* params) {
    std::lock_guard guard(s_mutex);
    PYX_CHECK(parser && params, InvalidValue, "null parser or parameters");
    PYX_CHECK(params->CodecType == cudaVideoCodec_H264 || params->CodecType == cudaVideoCodec_HEVC,
              InvalidValue, "codec");
    PYX_CHECK(params->pfnSequenceCallback && params->pfnDecodePicture && params->pfnDisplayPicture,
              InvalidValue, "a callback is missing");
    PYX_CHECK(params->ulMaxNumDecodeSurfaces > 0, InvalidValue, "no decode surfaces");
    const AVCodecID id = params->CodecType == cudaVideoCodec_H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC;
    auto* p = new Parser;
    p->params = *params;
    p->codec = avcodec_alloc_context3(avcodec_find_decoder(id));
    p->codec->thread_count = 1;
    p->codec->flags |= AV_CODEC_FLAG_LOW_DELAY;
    p->splitter = av_parser_init(id);
    if (avcodec_open2(p->codec, nullptr, nullptr) < 0 || p->splitter == nullptr) {
        avcodec_free_context(&p->codec);
        delete p;
        return Refuse(CUresult(InvalidValue), __func__, "libavcodec cannot decode the codec");
    }
    p->splitter->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    s_lastDisplayDelay = params->ulMaxDisplayDelay;
    s_parsers.insert(p);
    *parser = reinterpret_cast<CUvideoparser>(p);
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult
cuvidParseVideoData(CUvideoparser parser, CUVIDSOURCEDATAPACKET* packet) {
    std::lock_guard guard(s_mutex);
    auto* p = reinterpret_cast<Parser*>(parser);
    PYX_CHECK(s_parsers.count(p) != 0, InvalidHandle, "not a parser");
    PYX_CHECK(packet && (packet->payload || packet->payload_size == 0), InvalidValue, "null packet");
    const std::int64_t time = (packet->flags & CUVID_PKT_TIMESTAMP) != 0 ? packet->timestamp : AV_NOPTS_VALUE;
    const std::uint8_t* data = packet->payload;
    int left = static_cast<int>(packet->payload_size);
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> unit(av_packet_alloc(),
                                                        [](AVPacket* u) { av_packet_free(&u); });
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    while (left > 0) {
        std::uint8_t* out = nullptr;
        int outSize = 0;
        const int used = av_parser_parse2(p->splitter, p->codec, &out, &outSize, data, left, time, time, 0);
        data += used;
        left -= used;
        if (outSize == 0)
            continue;
        // The splitter has read the sequence header of this picture, if it carries one.
        if (p->splitter->width > 0 && !Announce(*p, p->splitter->width, p->splitter->height))
            return CUresult(InvalidValue);
        unit->data = out;
        unit->size = outSize;
        unit->pts = time;
        if (avcodec_send_packet(p->codec, unit.get()) < 0)
            return Refuse(CUresult(InvalidValue), __func__, "undecodable data");
        while (avcodec_receive_frame(p->codec, frame.get()) == 0) {
            PYX_CHECK(frame->format == AV_PIX_FMT_YUV420P, 801, "only 8-bit 4:2:0 is offered");
            PYX_CHECK(!frame->interlaced_frame, 801, "interlaced pictures are not offered");
            const bool delivered = Deliver(*p, frame.get());
            av_frame_unref(frame.get());
            if (!delivered)
                return CUresult(InvalidValue); // a callback refused: the parse fails, as the driver's does
        }
    }
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuvidDestroyVideoParser(CUvideoparser parser) {
    std::lock_guard guard(s_mutex);
    auto* p = reinterpret_cast<Parser*>(parser);
    PYX_CHECK(s_parsers.count(p) != 0, InvalidHandle, "not a parser");
    s_parsers.erase(p);
    av_parser_close(p->splitter);
    avcodec_free_context(&p->codec);
    delete p;
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuvidCreateDecoder(CUvideodecoder* decoder,
                                                                              CUVIDDECODECREATEINFO* info) {
    std::lock_guard guard(s_mutex);
    PYX_CHECK(decoder && info, InvalidValue, "null decoder or description");
    PYX_CHECK(info->vidLock && s_locks.count(reinterpret_cast<Lock*>(info->vidLock)) != 0, InvalidValue,
              "no context lock");
    PYX_CHECK(t_held == reinterpret_cast<Lock*>(info->vidLock), InvalidValue,
              "created without the lock held");
    PYX_CHECK(info->OutputFormat == cudaVideoSurfaceFormat_NV12 &&
                  info->ChromaFormat == cudaVideoChromaFormat_420,
              InvalidValue, "only NV12 output of 4:2:0 is offered");
    PYX_CHECK(info->ulWidth >= info->ulTargetWidth && info->ulHeight >= info->ulTargetHeight &&
                  info->ulTargetWidth == unsigned(info->display_area.right - info->display_area.left) &&
                  info->ulTargetHeight == unsigned(info->display_area.bottom - info->display_area.top),
              InvalidValue, "the fake does not scale: the target must be the display area");
    PYX_CHECK(info->ulNumDecodeSurfaces >= 1 && info->ulNumOutputSurfaces >= 1, InvalidValue,
              "surface counts");
    auto d = std::make_unique<Decoder>();
    d->info = *info;
    static auto* allocate = CudaEntry<tcuMemAllocPitch_v2>("cuMemAllocPitch_v2");
    std::size_t pitch = 0;
    const std::size_t rows = (info->ulTargetHeight + 1) / 2 * 3 * info->ulNumDecodeSurfaces;
    if (allocate == nullptr || allocate(&d->surfaces, &pitch, info->ulTargetWidth, rows, 4) != CUDA_SUCCESS)
        return Refuse(CUresult(2), __func__, "no device memory for the surfaces");
    d->pitch = pitch;
    s_lastDecoder = *info;
    s_decoders.insert(d.get());
    *decoder = reinterpret_cast<CUvideodecoder>(d.release());
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuvidDestroyDecoder(CUvideodecoder decoder) {
    std::lock_guard guard(s_mutex);
    auto* d = reinterpret_cast<Decoder*>(decoder);
    PYX_CHECK(s_decoders.count(d) != 0, InvalidHandle, "not a decoder");
    PYX_CHECK(d->mapped.empty(), InvalidValue, "destroyed with pictures mapped");
    PYX_CHECK(t_held != nullptr, InvalidValue, "destroyed without the context lock held");
    static auto* release = CudaEntry<tcuMemFree_v2>("cuMemFree_v2");
    release(d->surfaces);
    s_decoders.erase(d);
    delete d;
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult cuvidDecodePicture(CUvideodecoder decoder,
                                                                              CUVIDPICPARAMS* picture) {
    std::lock_guard guard(s_mutex);
    auto* d = reinterpret_cast<Decoder*>(decoder);
    PYX_CHECK(s_decoders.count(d) != 0, InvalidHandle, "not a decoder");
    PYX_CHECK(picture && picture->CurrPicIdx >= 0 &&
                  unsigned(picture->CurrPicIdx) < d->info.ulNumDecodeSurfaces,
              InvalidValue, "picture index beyond the decode surfaces");
    const auto found = s_pictures.find(picture->CurrPicIdx);
    PYX_CHECK(found != s_pictures.end() && found->second, InvalidValue, "not a picture of the parser");
    Store(*d, picture->CurrPicIdx, *found->second);
    found->second.reset();
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult
cuvidMapVideoFrame64(CUvideodecoder decoder, int index, unsigned long long* devicePointer,
                     unsigned int* pitch, CUVIDPROCPARAMS* processing) {
    std::lock_guard guard(s_mutex);
    auto* d = reinterpret_cast<Decoder*>(decoder);
    PYX_CHECK(s_decoders.count(d) != 0, InvalidHandle, "not a decoder");
    PYX_CHECK(devicePointer && pitch && processing, InvalidValue, "null argument");
    PYX_CHECK(index >= 0 && unsigned(index) < d->info.ulNumDecodeSurfaces, InvalidValue, "picture index");
    PYX_CHECK(d->mapped.size() < d->info.ulNumOutputSurfaces, InvalidValue,
              "more pictures mapped at once than output surfaces");
    PYX_CHECK(processing->progressive_frame == 1, InvalidValue, "the stream is progressive");
    const CUdeviceptr surface = Surface(*d, index);
    d->mapped.insert(surface);
    *devicePointer = surface;
    *pitch = static_cast<unsigned>(d->pitch);
    return CUDA_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) CUresult
cuvidUnmapVideoFrame64(CUvideodecoder decoder, unsigned long long pointer) {
    std::lock_guard guard(s_mutex);
    auto* d = reinterpret_cast<Decoder*>(decoder);
    PYX_CHECK(s_decoders.count(d) != 0, InvalidHandle, "not a decoder");
    PYX_CHECK(d->mapped.erase(pointer) == 1, InvalidValue, "not mapped");
    return CUDA_SUCCESS;
}
