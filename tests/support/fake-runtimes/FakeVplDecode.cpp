// The fake implementation's decoder: H.264 and HEVC through libavcodec into NV12 system-memory surfaces that
// it allocates itself. It keeps the documented rules: a header is found only in data holding a sequence
// header, Init once and only for pictures in system memory, no working surface from the caller, each
// picture's surface released by the caller, pictures valid after MFXVideoCORE_SyncOperation of their sync
// point. A picture of another size than the header's is refused as a new sequence would be.

#include "FakeVplSession.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <cstring>

struct FakeDecoder {
    mfxVideoParam params{};
    AVCodecContext* context = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::set<mfxSyncPoint> pending;
    std::uintptr_t nextSyncPoint = 1;

    ~FakeDecoder() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }
};

void DeleteFakeDecoder(FakeDecoder* decoder) { delete decoder; }

mfxStatus SyncFakeDecode(FakeDecoder& decoder, mfxSyncPoint point) {
    if (decoder.pending.erase(point) == 0) {
        FakeRuntimeComplaint("oneVPL", "SyncOperation: %p is no pending sync point",
                             static_cast<void*>(point));
        return MFX_ERR_INVALID_HANDLE;
    }
    return MFX_ERR_NONE;
}

namespace {

AVCodecContext* OpenDecoder(mfxU32 codecId) {
    const AVCodec* codec =
        avcodec_find_decoder(codecId == MFX_CODEC_HEVC ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(context, codec, nullptr) < 0)
        avcodec_free_context(&context);
    return context;
}

// Whether the Annex B data holds a sequence parameter set.
bool HasSequenceHeader(mfxU32 codecId, const mfxU8* data, std::size_t size) {
    for (std::size_t i = 0; i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        const mfxU8 header = data[i + 3];
        if (codecId == MFX_CODEC_HEVC ? ((header >> 1) & 0x3F) == 33 : (header & 0x1F) == 7)
            return true;
    }
    return false;
}

// Decodes the bitstream's data, all of which it consumes; false when no picture came out.
bool Decode(AVCodecContext* context, AVPacket* packet, AVFrame* frame, mfxBitstream& bs) {
    if (av_new_packet(packet, static_cast<int>(bs.DataLength)) < 0)
        return false;
    std::memcpy(packet->data, bs.Data + bs.DataOffset, bs.DataLength);
    bs.DataOffset += bs.DataLength;
    bs.DataLength = 0;
    const bool sent = avcodec_send_packet(context, packet) >= 0;
    av_packet_unref(packet);
    return sent && avcodec_receive_frame(context, frame) >= 0;
}

// The initialised decoder of the session (the caller holds the lock), or null after a complaint.
FakeDecoder* DecoderOf(mfxSession session, const char* function, mfxStatus& status) {
    FakeSession* found = FindFakeSession(session, function);
    status = found == nullptr ? MFX_ERR_INVALID_HANDLE : MFX_ERR_NOT_INITIALIZED;
    if (found != nullptr && found->decoder == nullptr)
        FakeRuntimeComplaint("oneVPL", "%s: the decoder is not initialised", function);
    return found != nullptr ? found->decoder.get() : nullptr;
}

} // namespace

PYX_FAKE_EXPORT mfxStatus MFXVideoDECODE_DecodeHeader(mfxSession session, mfxBitstream* bs,
                                                      mfxVideoParam* par) {
    std::lock_guard lock(g_fakeVplMutex);
    if (FindFakeSession(session, "MFXVideoDECODE_DecodeHeader") == nullptr)
        return MFX_ERR_INVALID_HANDLE;
    if (bs == nullptr || par == nullptr || bs->Data == nullptr)
        return MFX_ERR_NULL_PTR;
    if (par->mfx.CodecId != MFX_CODEC_AVC && par->mfx.CodecId != MFX_CODEC_HEVC)
        return MFX_ERR_UNSUPPORTED;
    if (!HasSequenceHeader(par->mfx.CodecId, bs->Data + bs->DataOffset, bs->DataLength)) {
        // What holds no header is consumed.
        bs->DataOffset += bs->DataLength;
        bs->DataLength = 0;
        return MFX_ERR_MORE_DATA;
    }
    // The header's picture size, from a decoder of its own; the data stays for decoding.
    AVCodecContext* context = OpenDecoder(par->mfx.CodecId);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    mfxBitstream probe = *bs;
    const bool decoded = context != nullptr && Decode(context, packet, frame, probe);
    if (decoded) {
        mfxFrameInfo& info = par->mfx.FrameInfo;
        info.FourCC = MFX_FOURCC_NV12;
        info.ChromaFormat = MFX_CHROMAFORMAT_YUV420;
        info.BitDepthLuma = info.BitDepthChroma = 8;
        info.PicStruct = MFX_PICSTRUCT_PROGRESSIVE;
        info.Width = static_cast<mfxU16>((frame->width + 15) & ~15);
        info.Height = static_cast<mfxU16>((frame->height + 15) & ~15);
        info.CropX = info.CropY = 0;
        info.CropW = static_cast<mfxU16>(frame->width);
        info.CropH = static_cast<mfxU16>(frame->height);
        info.FrameRateExtN = 60;
        info.FrameRateExtD = 1;
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return decoded ? MFX_ERR_NONE : MFX_ERR_MORE_DATA;
}

PYX_FAKE_EXPORT mfxStatus MFXVideoDECODE_Init(mfxSession session, mfxVideoParam* par) {
    std::lock_guard lock(g_fakeVplMutex);
    FakeSession* found = FindFakeSession(session, "MFXVideoDECODE_Init");
    if (found == nullptr)
        return MFX_ERR_INVALID_HANDLE;
    if (par == nullptr)
        return MFX_ERR_NULL_PTR;
    g_fakeVplSeen.decodeInit = *par;
    if (found->decoder != nullptr || par->IOPattern != MFX_IOPATTERN_OUT_SYSTEM_MEMORY ||
        par->mfx.FrameInfo.FourCC != MFX_FOURCC_NV12 || par->mfx.FrameInfo.CropW == 0) {
        FakeRuntimeComplaint("oneVPL", "MFXVideoDECODE_Init: initialised already, or parameters not offered");
        return MFX_ERR_INVALID_VIDEO_PARAM;
    }
    auto decoder = std::unique_ptr<FakeDecoder, void (*)(FakeDecoder*)>(new FakeDecoder, DeleteFakeDecoder);
    decoder->params = *par;
    decoder->context = OpenDecoder(par->mfx.CodecId);
    if (decoder->context == nullptr)
        return MFX_ERR_UNSUPPORTED;
    found->decoder = std::move(decoder);
    return MFX_ERR_NONE;
}

PYX_FAKE_EXPORT mfxStatus MFXVideoDECODE_Close(mfxSession session) {
    std::lock_guard lock(g_fakeVplMutex);
    mfxStatus status = MFX_ERR_NONE;
    if (DecoderOf(session, "MFXVideoDECODE_Close", status) == nullptr)
        return status;
    reinterpret_cast<FakeSession*>(session)->decoder.reset();
    return MFX_ERR_NONE;
}

PYX_FAKE_EXPORT mfxStatus MFXVideoDECODE_DecodeFrameAsync(mfxSession session, mfxBitstream* bs,
                                                          mfxFrameSurface1* work, mfxFrameSurface1** out,
                                                          mfxSyncPoint* syncp) {
    std::lock_guard lock(g_fakeVplMutex);
    mfxStatus status = MFX_ERR_NONE;
    FakeDecoder* decoder = DecoderOf(session, "MFXVideoDECODE_DecodeFrameAsync", status);
    if (decoder == nullptr)
        return status;
    if (out == nullptr || syncp == nullptr)
        return MFX_ERR_NULL_PTR;
    if (work != nullptr) {
        FakeRuntimeComplaint("oneVPL", "DecodeFrameAsync: the fake allocates its surfaces itself");
        return MFX_ERR_UNSUPPORTED;
    }
    if (bs == nullptr)
        return MFX_ERR_MORE_DATA; // nothing is held back to drain
    ++g_fakeVplSeen.bitstreamsDecoded;
    g_fakeVplSeen.lastTimeStamp = bs->TimeStamp;
    g_fakeVplSeen.lastDataFlag = bs->DataFlag;
    if (reinterpret_cast<std::uintptr_t>(bs->Data + bs->DataOffset) % 32 != 0)
        ++g_fakeVplSeen.misalignedBitstreams;
    if (TakeScriptedAnswer(status))
        return status;
    AVFrame& frame = *decoder->frame;
    if (!Decode(decoder->context, decoder->packet, &frame, *bs))
        return MFX_ERR_MORE_DATA;
    const mfxFrameInfo& info = decoder->params.mfx.FrameInfo;
    if (frame.width != info.CropW || frame.height != info.CropH || frame.format != AV_PIX_FMT_YUV420P)
        return MFX_ERR_INCOMPATIBLE_VIDEO_PARAM;
    mfxFrameSurface1* surface = NewFakeSurface(reinterpret_cast<FakeSession*>(session), info);
    mfxU8* luma = FakeSurfaceMemory(surface);
    mfxU8* chroma = luma + std::size_t(info.Width) * info.Height;
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(luma + y * info.Width, frame.data[0] + y * frame.linesize[0], std::size_t(frame.width));
    for (int y = 0; y < frame.height / 2; ++y)
        for (int x = 0; x < frame.width / 2; ++x) {
            chroma[y * info.Width + 2 * x] = frame.data[1][y * frame.linesize[1] + x];
            chroma[y * info.Width + 2 * x + 1] = frame.data[2][y * frame.linesize[2] + x];
        }
    surface->Data.TimeStamp = bs->TimeStamp;
    const auto point = reinterpret_cast<mfxSyncPoint>(decoder->nextSyncPoint++);
    decoder->pending.insert(point);
    *out = surface;
    *syncp = point;
    return MFX_ERR_NONE;
}
