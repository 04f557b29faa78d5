// The fake implementation's encoder: H.264 and HEVC through libavcodec's software encoders, on system-memory
// surfaces the session hands out. It keeps the documented rules: Init before anything else and once,
// parameters checked and corrected with a warning, surfaces written only while mapped and released by their
// holders, bitstreams with room for a frame, output only after MFXVideoCORE_SyncOperation of its sync point
// (written into the bitstream then, not before). Tests can script its answers to the next frames. The
// surfaces it hands out serve the decoder too.

#include "FakeVplSession.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace {

struct Surface {
    mfxFrameSurface1 surface{};
    std::vector<mfxU8> memory;
    FakeSession* owner = nullptr;
    mfxU32 references = 1;
    bool mapped = false;
};

struct Packet {
    std::vector<mfxU8> data;
    mfxU64 timeStamp = 0;
    mfxU16 frameType = 0;
};

std::set<Surface*> s_surfaces; // handed out and not yet released by everybody
std::atomic<int> s_encodedFrames{0};

bool IsNv12(const mfxFrameInfo& info) { return info.FourCC == MFX_FOURCC_NV12; }

} // namespace

struct FakeEncoder {
    mfxVideoParam params{};
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    std::deque<mfxU64> timeStamps; // of the frames sent, in order
    std::deque<Packet> ready;      // encoded, not yet handed to a bitstream
    std::map<mfxSyncPoint, std::pair<mfxBitstream*, Packet>> pending;
    std::uintptr_t nextSyncPoint = 1;
    std::int64_t nextPts = 0;
    bool draining = false;

    ~FakeEncoder() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

void DeleteFakeEncoder(FakeEncoder* encoder) { delete encoder; }

std::size_t CountFakeSurfaces(const FakeSession* session) {
    return static_cast<std::size_t>(
        std::count_if(s_surfaces.begin(), s_surfaces.end(),
                      [&](const Surface* surface) { return surface->owner == session; }));
}

namespace {

// Checks `par` as the runtime would and corrects what it can: MFX_ERR_UNSUPPORTED, a warning after a
// correction, or MFX_ERR_NONE.
mfxStatus Correct(mfxVideoParam& par) {
    mfxInfoMFX& mfx = par.mfx;
    mfxFrameInfo& info = mfx.FrameInfo;
    if (mfx.CodecId != MFX_CODEC_AVC && mfx.CodecId != MFX_CODEC_HEVC)
        return MFX_ERR_UNSUPPORTED;
    if (info.FourCC != MFX_FOURCC_NV12 && info.FourCC != MFX_FOURCC_RGB4)
        return MFX_ERR_UNSUPPORTED;
    if (info.Width == 0 || info.Height == 0 || info.Width > 4096 || info.Height > 4096 ||
        info.FrameRateExtN == 0 || info.FrameRateExtD == 0 || info.CropW > info.Width ||
        info.CropH > info.Height)
        return MFX_ERR_UNSUPPORTED;
    if (par.IOPattern != MFX_IOPATTERN_IN_VIDEO_MEMORY && par.IOPattern != MFX_IOPATTERN_IN_SYSTEM_MEMORY)
        return MFX_ERR_UNSUPPORTED;
    if (mfx.RateControlMethod != MFX_RATECONTROL_CBR && mfx.RateControlMethod != MFX_RATECONTROL_VBR)
        return MFX_ERR_UNSUPPORTED;
    bool corrected = false;
    const auto fix = [&](mfxU16& field, mfxU16 value) {
        if (field != value) {
            field = value;
            corrected = true;
        }
    };
    fix(info.Width, static_cast<mfxU16>((info.Width + 15) & ~15));
    fix(info.Height, static_cast<mfxU16>((info.Height + 15) & ~15));
    fix(info.ChromaFormat, IsNv12(info) ? MFX_CHROMAFORMAT_YUV420 : MFX_CHROMAFORMAT_YUV444);
    if (mfx.TargetUsage > 7)
        fix(mfx.TargetUsage, 4);
    if (mfx.GopRefDist > 1)
        fix(mfx.GopRefDist, 1); // the fake makes no B frames
    if (mfx.TargetKbps == 0)
        fix(mfx.TargetKbps, 2000);
    return corrected ? MFX_WRN_INCOMPATIBLE_VIDEO_PARAM : MFX_ERR_NONE;
}

mfxStatus Open(FakeEncoder& encoder) {
    const mfxInfoMFX& mfx = encoder.params.mfx;
    const bool hevc = mfx.CodecId == MFX_CODEC_HEVC;
    const AVCodec* codec = avcodec_find_encoder_by_name(hevc ? "libx265" : "libx264");
    if (codec == nullptr)
        return MFX_ERR_UNSUPPORTED;
    avcodec_free_context(&encoder.context);
    AVCodecContext* context = encoder.context = avcodec_alloc_context3(codec);
    const mfxFrameInfo& info = mfx.FrameInfo;
    context->width = info.CropW != 0 ? info.CropW : info.Width;
    context->height = info.CropH != 0 ? info.CropH : info.Height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base =
        AVRational{static_cast<int>(info.FrameRateExtD), static_cast<int>(info.FrameRateExtN)};
    context->framerate =
        AVRational{static_cast<int>(info.FrameRateExtN), static_cast<int>(info.FrameRateExtD)};
    context->gop_size = mfx.GopPicSize != 0 ? mfx.GopPicSize : 256;
    context->max_b_frames = 0;
    context->bit_rate = std::int64_t{mfx.TargetKbps} * 1000;
    if (mfx.MaxKbps != 0)
        context->rc_max_rate = std::int64_t{mfx.MaxKbps} * 1000;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", mfx.TargetUsage == 1 ? "veryfast" : "ultrafast", 0);
    av_dict_set(&options, "tune", "zerolatency", 0);
    av_dict_set(&options, "forced-idr", "1", 0);
    if (hevc)
        av_dict_set(&options, "x265-params", "log-level=error:bframes=0:repeat-headers=1:frame-threads=1", 0);
    av_log_set_level(AV_LOG_ERROR);
    const int error = avcodec_open2(context, codec, &options);
    av_dict_free(&options);
    if (error < 0)
        return MFX_ERR_DEVICE_FAILED;
    if (encoder.frame == nullptr)
        encoder.frame = av_frame_alloc();
    if (encoder.packet == nullptr)
        encoder.packet = av_packet_alloc();
    encoder.draining = false;
    return MFX_ERR_NONE;
}

// The session's initialised encoder (the caller holds the lock), or null with the status to return.
FakeEncoder* InitialisedEncoder(mfxSession session, const char* function, mfxStatus& status) {
    FakeSession* found = FindFakeSession(session, function);
    status = MFX_ERR_INVALID_HANDLE;
    if (found == nullptr)
        return nullptr;
    status = MFX_ERR_NOT_INITIALIZED;
    if (found->encoder == nullptr) {
        FakeRuntimeComplaint("oneVPL", "%s: the encoder is not initialised", function);
        return nullptr;
    }
    return found->encoder.get();
}

std::uint8_t Clamp(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

// The visible part of the surface as planar 4:2:0, BT.601 limited range for RGB4.
void Convert(const mfxFrameSurface1& surface, const mfxU8* memory, AVFrame& frame) {
    const mfxFrameInfo& info = surface.Info;
    const int pitch = surface.Data.PitchLow;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            if (IsNv12(info)) {
                frame.data[0][y * frame.linesize[0] + x] = memory[y * pitch + x];
                if (x % 2 == 0 && y % 2 == 0) {
                    const mfxU8* uv = memory + pitch * info.Height + (y / 2) * pitch + x;
                    frame.data[1][(y / 2) * frame.linesize[1] + x / 2] = uv[0];
                    frame.data[2][(y / 2) * frame.linesize[2] + x / 2] = uv[1];
                }
                continue;
            }
            const mfxU8* bgra = memory + y * pitch + x * 4;
            const int b = bgra[0], g = bgra[1], r = bgra[2];
            frame.data[0][y * frame.linesize[0] + x] = Clamp(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
            if (x % 2 == 0 && y % 2 == 0) {
                frame.data[1][(y / 2) * frame.linesize[1] + x / 2] =
                    Clamp(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
                frame.data[2][(y / 2) * frame.linesize[2] + x / 2] =
                    Clamp(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
            }
        }
    }
}

// Collects what the encoder has finished into the ready queue.
void Receive(FakeEncoder& encoder) {
    while (avcodec_receive_packet(encoder.context, encoder.packet) >= 0) {
        Packet packet;
        packet.data.assign(encoder.packet->data, encoder.packet->data + encoder.packet->size);
        const bool key = (encoder.packet->flags & AV_PKT_FLAG_KEY) != 0;
        packet.frameType = key ? MFX_FRAMETYPE_I | MFX_FRAMETYPE_IDR | MFX_FRAMETYPE_REF
                               : MFX_FRAMETYPE_P | MFX_FRAMETYPE_REF;
        if (!encoder.timeStamps.empty()) {
            packet.timeStamp = encoder.timeStamps.front();
            encoder.timeStamps.pop_front();
        }
        encoder.ready.push_back(std::move(packet));
        av_packet_unref(encoder.packet);
        ++s_encodedFrames;
    }
}

// A surface handed out by this fake and not released, or null after a complaint.
Surface* Live(mfxFrameSurface1* surface, const char* function) {
    auto* found = reinterpret_cast<Surface*>(surface); // `surface` is the first member
    if (s_surfaces.count(found) == 0) {
        FakeRuntimeComplaint("oneVPL", "%s: %p is not a live surface of this runtime", function,
                             static_cast<void*>(surface));
        return nullptr;
    }
    return found;
}

// Runs `action` on a live surface under the lock; a surface that is not live is refused.
template <typename Action>
mfxStatus OnSurface(mfxFrameSurface1* surface, const char* function, Action action) {
    std::lock_guard lock(g_fakeVplMutex);
    Surface* found = Live(surface, function);
    return found != nullptr ? action(*found) : MFX_ERR_INVALID_HANDLE;
}

mfxStatus SurfaceAddRef(mfxFrameSurface1* surface) {
    return OnSurface(surface, "AddRef", [](Surface& found) {
        ++found.references;
        return MFX_ERR_NONE;
    });
}

mfxStatus SurfaceRelease(mfxFrameSurface1* surface) {
    return OnSurface(surface, "Release", [](Surface& found) {
        if (found.mapped) {
            FakeRuntimeComplaint("oneVPL", "Release: the surface is still mapped");
            return MFX_ERR_UNDEFINED_BEHAVIOR;
        }
        if (--found.references == 0) {
            s_surfaces.erase(&found);
            delete &found;
        }
        return MFX_ERR_NONE;
    });
}

mfxStatus SurfaceGetRefCounter(mfxFrameSurface1* surface, mfxU32* counter) {
    return OnSurface(surface, "GetRefCounter", [&](Surface& found) {
        if (counter == nullptr)
            return MFX_ERR_NULL_PTR;
        *counter = found.references;
        return MFX_ERR_NONE;
    });
}

mfxStatus SurfaceMap(mfxFrameSurface1* surface, mfxU32 flags) {
    return OnSurface(surface, "Map", [&](Surface& found) {
        if ((flags & (MFX_MAP_READ | MFX_MAP_WRITE)) == 0)
            return MFX_ERR_UNSUPPORTED;
        if (found.mapped) {
            FakeRuntimeComplaint("oneVPL", "Map: the surface is mapped already");
            return MFX_ERR_LOCK_MEMORY;
        }
        found.mapped = true;
        mfxFrameData& data = surface->Data;
        mfxU8* memory = found.memory.data();
        if (IsNv12(surface->Info)) {
            data.Y = memory;
            data.UV = memory + std::size_t{data.PitchLow} * surface->Info.Height;
        } else {
            data.B = memory;
            data.G = memory + 1;
            data.R = memory + 2;
            data.A = memory + 3;
        }
        return MFX_ERR_NONE;
    });
}

mfxStatus SurfaceUnmap(mfxFrameSurface1* surface) {
    return OnSurface(surface, "Unmap", [&](Surface& found) {
        if (!found.mapped) {
            FakeRuntimeComplaint("oneVPL", "Unmap: the surface is not mapped");
            return MFX_ERR_UNDEFINED_BEHAVIOR;
        }
        found.mapped = false;
        // The pointers are valid only while mapped.
        mfxFrameData& data = surface->Data;
        data.Y = data.UV = data.B = data.G = data.R = data.A = nullptr;
        return MFX_ERR_NONE;
    });
}

mfxStatus SurfaceSynchronize(mfxFrameSurface1* surface, mfxU32) {
    return OnSurface(surface, "Synchronize", [](Surface&) { return MFX_ERR_NONE; });
}

// System-memory surfaces have no native or device handle.
mfxStatus SurfaceGetNativeHandle(mfxFrameSurface1*, mfxHDL*, mfxResourceType*) { return MFX_ERR_UNSUPPORTED; }
mfxStatus SurfaceGetDeviceHandle(mfxFrameSurface1*, mfxHDL*, mfxHandleType*) { return MFX_ERR_UNSUPPORTED; }

mfxFrameSurfaceInterface MakeInterface() {
    mfxFrameSurfaceInterface surfaceInterface{};
    surfaceInterface.Version.Version = MFX_FRAMESURFACEINTERFACE_VERSION;
    surfaceInterface.AddRef = SurfaceAddRef;
    surfaceInterface.Release = SurfaceRelease;
    surfaceInterface.GetRefCounter = SurfaceGetRefCounter;
    surfaceInterface.Map = SurfaceMap;
    surfaceInterface.Unmap = SurfaceUnmap;
    surfaceInterface.GetNativeHandle = SurfaceGetNativeHandle;
    surfaceInterface.GetDeviceHandle = SurfaceGetDeviceHandle;
    surfaceInterface.Synchronize = SurfaceSynchronize;
    return surfaceInterface;
}

mfxFrameSurfaceInterface s_interface = MakeInterface();

} // namespace

mfxFrameSurface1* NewFakeSurface(FakeSession* session, const mfxFrameInfo& info) {
    auto* created = new Surface;
    created->owner = session;
    mfxFrameSurface1& s = created->surface;
    s.FrameInterface = &s_interface;
    s.Version.Version = MFX_FRAMESURFACE1_VERSION;
    s.Info = info;
    const std::size_t width = info.Width;
    s.Data.PitchLow = static_cast<mfxU16>(IsNv12(info) ? width : width * 4);
    created->memory.assign(IsNv12(info) ? width * info.Height * 3 / 2 : width * 4 * info.Height, 0);
    s_surfaces.insert(created);
    return &created->surface;
}

mfxU8* FakeSurfaceMemory(mfxFrameSurface1* surface) {
    return reinterpret_cast<Surface*>(surface)->memory.data();
}

namespace {

// Runs `action` on the session's initialised encoder under the lock.
template <typename Action>
mfxStatus OnEncoder(mfxSession session, const char* function, Action action) {
    std::lock_guard lock(g_fakeVplMutex);
    mfxStatus status = MFX_ERR_NONE;
    FakeEncoder* encoder = InitialisedEncoder(session, function, status);
    return encoder != nullptr ? action(*encoder) : status;
}

} // namespace

PYX_FAKE_EXPORT int fakeVplEncodedFrames() { return s_encodedFrames; }
PYX_FAKE_EXPORT std::size_t fakeVplLiveSurfaces() {
    std::lock_guard lock(g_fakeVplMutex);
    return s_surfaces.size();
}

PYX_FAKE_EXPORT mfxStatus MFXVideoENCODE_Query(mfxSession session, mfxVideoParam* in, mfxVideoParam* out) {
    std::lock_guard lock(g_fakeVplMutex);
    if (FindFakeSession(session, "MFXVideoENCODE_Query") == nullptr)
        return MFX_ERR_INVALID_HANDLE;
    if (out == nullptr)
        return MFX_ERR_NULL_PTR;
    if (in == nullptr) {
        // What the application may set: the fields the fake looks at.
        *out = mfxVideoParam{};
        out->AsyncDepth = out->IOPattern = 1;
        out->mfx.CodecId = 1;
        out->mfx.TargetUsage = out->mfx.GopPicSize = out->mfx.GopRefDist = out->mfx.RateControlMethod = 1;
        out->mfx.TargetKbps = out->mfx.MaxKbps = out->mfx.BufferSizeInKB = 1;
        out->mfx.FrameInfo.FourCC = out->mfx.FrameInfo.Width = out->mfx.FrameInfo.Height = 1;
        out->mfx.FrameInfo.FrameRateExtN = out->mfx.FrameInfo.FrameRateExtD = 1;
        return MFX_ERR_NONE;
    }
    if (out->mfx.CodecId != in->mfx.CodecId) {
        FakeRuntimeComplaint("oneVPL", "MFXVideoENCODE_Query: out must name the codec of in");
        return MFX_ERR_UNSUPPORTED;
    }
    *out = *in;
    return Correct(*out);
}

PYX_FAKE_EXPORT mfxStatus MFXVideoENCODE_Init(mfxSession session, mfxVideoParam* par) {
    std::lock_guard lock(g_fakeVplMutex);
    FakeSession* found = FindFakeSession(session, "MFXVideoENCODE_Init");
    if (found == nullptr)
        return MFX_ERR_INVALID_HANDLE;
    if (par == nullptr)
        return MFX_ERR_NULL_PTR;
    if (found->encoder != nullptr) {
        FakeRuntimeComplaint("oneVPL", "MFXVideoENCODE_Init: initialised already");
        return MFX_ERR_UNDEFINED_BEHAVIOR;
    }
    g_fakeVplSeen.encodeInit = *par;
    auto encoder = std::unique_ptr<FakeEncoder, void (*)(FakeEncoder*)>(new FakeEncoder, DeleteFakeEncoder);
    encoder->params = *par;
    const mfxStatus corrected = Correct(encoder->params);
    if (corrected < MFX_ERR_NONE)
        return MFX_ERR_INVALID_VIDEO_PARAM;
    const mfxStatus opened = Open(*encoder);
    if (opened != MFX_ERR_NONE)
        return opened;
    found->encoder = std::move(encoder);
    return corrected;
}

PYX_FAKE_EXPORT mfxStatus MFXVideoENCODE_Reset(mfxSession session, mfxVideoParam* par) {
    return OnEncoder(session, "MFXVideoENCODE_Reset", [&](FakeEncoder& encoder) -> mfxStatus {
        if (par == nullptr)
            return MFX_ERR_NULL_PTR;
        g_fakeVplSeen.encodeReset = *par;
        ++g_fakeVplSeen.encodeResets;
        mfxVideoParam changed = *par;
        const mfxStatus corrected = Correct(changed);
        if (corrected < MFX_ERR_NONE)
            return MFX_ERR_INVALID_VIDEO_PARAM;
        const mfxFrameInfo& before = encoder.params.mfx.FrameInfo;
        if (changed.mfx.CodecId != encoder.params.mfx.CodecId || changed.mfx.FrameInfo.Width > before.Width ||
            changed.mfx.FrameInfo.Height > before.Height || changed.mfx.FrameInfo.FourCC != before.FourCC)
            return MFX_ERR_INCOMPATIBLE_VIDEO_PARAM;
        encoder.params = changed;
        const mfxStatus opened = Open(encoder); // a new sequence, starting with a key frame
        return opened != MFX_ERR_NONE ? opened : corrected;
    });
}

PYX_FAKE_EXPORT mfxStatus MFXVideoENCODE_GetVideoParam(mfxSession session, mfxVideoParam* par) {
    return OnEncoder(session, "MFXVideoENCODE_GetVideoParam", [&](FakeEncoder& encoder) -> mfxStatus {
        if (par == nullptr)
            return MFX_ERR_NULL_PTR;
        par->AsyncDepth = encoder.params.AsyncDepth;
        par->IOPattern = encoder.params.IOPattern;
        par->mfx = encoder.params.mfx;
        return MFX_ERR_NONE;
    });
}

PYX_FAKE_EXPORT mfxStatus MFXVideoENCODE_Close(mfxSession session) {
    return OnEncoder(session, "MFXVideoENCODE_Close", [&](FakeEncoder&) {
        reinterpret_cast<FakeSession*>(session)->encoder.reset();
        return MFX_ERR_NONE;
    });
}

PYX_FAKE_EXPORT mfxStatus MFXMemory_GetSurfaceForEncode(mfxSession session, mfxFrameSurface1** surface) {
    return OnEncoder(session, "MFXMemory_GetSurfaceForEncode", [&](FakeEncoder& encoder) -> mfxStatus {
        if (surface == nullptr)
            return MFX_ERR_NULL_PTR;
        *surface = NewFakeSurface(reinterpret_cast<FakeSession*>(session), encoder.params.mfx.FrameInfo);
        return MFX_ERR_NONE;
    });
}

PYX_FAKE_EXPORT mfxStatus MFXVideoENCODE_EncodeFrameAsync(mfxSession session, mfxEncodeCtrl* ctrl,
                                                          mfxFrameSurface1* surface, mfxBitstream* bs,
                                                          mfxSyncPoint* syncp) {
    return OnEncoder(session, "MFXVideoENCODE_EncodeFrameAsync", [&](FakeEncoder& encoder) -> mfxStatus {
        if (bs == nullptr || syncp == nullptr)
            return MFX_ERR_NULL_PTR;
        for (const auto& [point, output] : encoder.pending) {
            if (output.first == bs) {
                FakeRuntimeComplaint("oneVPL", "EncodeFrameAsync: the bitstream still awaits its sync point");
                return MFX_ERR_UNDEFINED_BEHAVIOR;
            }
        }
        const mfxU32 room = bs->MaxLength - bs->DataOffset - bs->DataLength;
        const mfxFrameInfo& info = encoder.params.mfx.FrameInfo;
        const mfxU32 needed = encoder.params.mfx.BufferSizeInKB != 0
                                  ? encoder.params.mfx.BufferSizeInKB * 1000u
                                  : mfxU32{info.Width} * info.Height;
        if (bs->Data == nullptr || bs->DataOffset + bs->DataLength > bs->MaxLength || room < needed)
            return MFX_ERR_NOT_ENOUGH_BUFFER;
        if (mfxStatus answer = MFX_ERR_NONE; TakeScriptedAnswer(answer))
            return answer;
        if (surface != nullptr) {
            Surface* found = Live(surface, "EncodeFrameAsync");
            if (found == nullptr)
                return MFX_ERR_UNDEFINED_BEHAVIOR;
            if (found->owner != reinterpret_cast<FakeSession*>(session)) {
                FakeRuntimeComplaint("oneVPL", "EncodeFrameAsync: the surface is another session's");
                return MFX_ERR_UNDEFINED_BEHAVIOR;
            }
            if (found->mapped) {
                FakeRuntimeComplaint("oneVPL", "EncodeFrameAsync: the surface is still mapped");
                return MFX_ERR_UNDEFINED_BEHAVIOR;
            }
            if (encoder.draining) {
                FakeRuntimeComplaint("oneVPL", "EncodeFrameAsync: a frame after the drain began");
                return MFX_ERR_UNDEFINED_BEHAVIOR;
            }
            AVFrame& frame = *encoder.frame;
            av_frame_unref(&frame);
            frame.format = AV_PIX_FMT_YUV420P;
            frame.width = encoder.context->width;
            frame.height = encoder.context->height;
            if (av_frame_get_buffer(&frame, 0) < 0)
                return MFX_ERR_MEMORY_ALLOC;
            Convert(*surface, found->memory.data(), frame);
            frame.pts = encoder.nextPts++;
            const bool forceKey =
                ctrl != nullptr && (ctrl->FrameType & (MFX_FRAMETYPE_I | MFX_FRAMETYPE_IDR)) != 0;
            frame.pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
            g_fakeVplSeen.frameTypesAsked[g_fakeVplSeen.framesSubmitted++ % 64] =
                ctrl != nullptr ? ctrl->FrameType : 0;
            encoder.timeStamps.push_back(surface->Data.TimeStamp);
            if (avcodec_send_frame(encoder.context, &frame) < 0)
                return MFX_ERR_DEVICE_FAILED;
        } else if (!encoder.draining) {
            encoder.draining = true;
            avcodec_send_frame(encoder.context, nullptr);
        }
        Receive(encoder);
        if (encoder.ready.empty())
            return MFX_ERR_MORE_DATA;
        const auto point = reinterpret_cast<mfxSyncPoint>(encoder.nextSyncPoint++);
        encoder.pending.emplace(point, std::make_pair(bs, std::move(encoder.ready.front())));
        encoder.ready.pop_front();
        *syncp = point;
        return MFX_ERR_NONE;
    });
}

PYX_FAKE_EXPORT mfxStatus MFXVideoCORE_SyncOperation(mfxSession session, mfxSyncPoint syncp, mfxU32) {
    {
        std::lock_guard lock(g_fakeVplMutex);
        FakeSession* found = FindFakeSession(session, "MFXVideoCORE_SyncOperation");
        if (found == nullptr)
            return MFX_ERR_INVALID_HANDLE;
        if (found->decoder != nullptr)
            return SyncFakeDecode(*found->decoder, syncp);
    }
    return OnEncoder(session, "MFXVideoCORE_SyncOperation", [&](FakeEncoder& encoder) -> mfxStatus {
        if (syncp == nullptr)
            return MFX_ERR_NULL_PTR;
        const auto found = encoder.pending.find(syncp);
        if (found == encoder.pending.end()) {
            FakeRuntimeComplaint("oneVPL", "SyncOperation: %p is no pending sync point",
                                 static_cast<void*>(syncp));
            return MFX_ERR_INVALID_HANDLE;
        }
        mfxBitstream& bs = *found->second.first;
        const Packet& packet = found->second.second;
        if (bs.MaxLength - bs.DataOffset - bs.DataLength < packet.data.size()) {
            encoder.pending.erase(found);
            return MFX_ERR_NOT_ENOUGH_BUFFER;
        }
        std::copy(packet.data.begin(), packet.data.end(), bs.Data + bs.DataOffset + bs.DataLength);
        bs.DataLength += static_cast<mfxU32>(packet.data.size());
        bs.TimeStamp = packet.timeStamp;
        bs.DecodeTimeStamp = static_cast<mfxI64>(packet.timeStamp);
        bs.FrameType = packet.frameType;
        bs.PicStruct = MFX_PICSTRUCT_PROGRESSIVE;
        encoder.pending.erase(found);
        return MFX_ERR_NONE;
    });
}
