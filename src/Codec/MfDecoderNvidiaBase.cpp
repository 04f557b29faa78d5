#include "MfDecoderNvidiaBase.h"

#include "CodecReport.h"
#include "DecodedPicture.h"
#include "Exception.h"
#include "SampleAttributes.h"
#include <debugapi.h>
#include <intrin.h>
#include <mferror.h>
#include <mfidl.h>

#include <algorithm>
#include <cstdio>

namespace kiv::mfcodec {

using nv::Cuda;
using nv::NvDec;

namespace {

constexpr unsigned int CU_CTX_SCHED_SPIN = 1;

cudaVideoCodec VideoCodec(DecoderNvidiaBase::Codec codec) {
    switch (codec) {
    case DecoderNvidiaBase::Codec::H264:
        return cudaVideoCodec_H264;
    case DecoderNvidiaBase::Codec::AV1:
        return cudaVideoCodec_AV1;
    default:
        return cudaVideoCodec_HEVC;
    }
}

// The decoder's context is current on the calling thread while the scope lasts.
class ContextLock {
public:
    explicit ContextLock(CUvideoctxlock lock) : m_lock(lock), m_result(NvDec.CtxLock(lock, 0)) {}
    ~ContextLock() {
        if (m_result == CUDA_SUCCESS)
            NvDec.CtxUnlock(m_lock, 0);
    }
    ContextLock(const ContextLock&) = delete;
    ContextLock& operator=(const ContextLock&) = delete;
    CUresult result() const { return m_result; }

private:
    CUvideoctxlock m_lock;
    CUresult m_result;
};

} // namespace

#define KIV_RETURN_IF_CUDA_FAILED(call) KIV_RETURN_IF_FAILED(::kiv::nv::CudaToHresult(call))

DecoderNvidiaBase::DecoderNvidiaBase(const RegistrationInfo& regInfo, const CtorOpts& ctorOpts,
                                     const EncoderQuery& extOpts)
    : Base(regInfo), m_ctorOpts(ctorOpts), m_extOpts(extOpts) {
    KIV_THROW_UNLESS(m_ctorOpts.codec != Codec::INVALID);
    KIV_THROW_UNLESS(extOpts.deviceVendor == +VendorId::Nvidia);
    KIV_THROW_UNLESS(Cuda.load_() == nv::Error::None);
    KIV_THROW_UNLESS(NvDec.load_() == nv::Error::None);
    const int classDelay = m_ctorOpts.displayDelay;
    if (extOpts.speedQualityPreset < 0)
        m_ctorOpts.displayDelay = 0;
    else if (extOpts.speedQualityPreset == 0)
        m_ctorOpts.displayDelay = static_cast<std::uint8_t>(std::min(classDelay, 3));
    else
        m_ctorOpts.displayDelay =
            static_cast<std::uint8_t>(classDelay == 0 ? 1 : std::min(2 * classDelay, 4));
}

DecoderNvidiaBase::~DecoderNvidiaBase() { cleanup(); }

HRESULT DecoderNvidiaBase::onBeginStreaming() {
    KIV_ASSERT(Cuda.isLoaded_());
    KIV_ASSERT(NvDec.isLoaded_());
    KIV_ASSERT(canInitialize());
    KIV_RETURN_IF_FAILED(getVideoSpecs(&m_streamSpecs, nullptr));
    using Bits = StreamSpecs::Bits;
    KIV_RETURN_UNLESS((m_streamSpecs.present & Bits::srcRes) && (m_streamSpecs.present & Bits::srcFps),
                      MF_E_ATTRIBUTENOTFOUND);
    KIV_RETURN_IF_CUDA_FAILED(Cuda.getDevice_(device(), &m_device));
    KIV_RETURN_IF_CUDA_FAILED(Cuda.CtxCreate_v2(&m_context, CU_CTX_SCHED_SPIN, m_device));
    KIV_RETURN_IF_CUDA_FAILED(Cuda.CtxPopCurrent_v2(nullptr));
    KIV_RETURN_IF_CUDA_FAILED(NvDec.CtxLockCreate(&m_ctxLock, m_context));
    {
        const ContextLock lock(m_ctxLock);
        KIV_RETURN_IF_CUDA_FAILED(lock.result());
        KIV_RETURN_IF_CUDA_FAILED(Cuda.StreamCreate(&m_stream, CU_STREAM_NON_BLOCKING));
    }
    CUVIDPARSERPARAMS params{};
    params.CodecType = VideoCodec(m_ctorOpts.codec);
    params.ulMaxNumDecodeSurfaces = 2;
    params.ulClockRate = 0;
    params.ulErrorThreshold = 100;
    params.ulMaxDisplayDelay = m_ctorOpts.displayDelay;
    params.pUserData = this;
    params.pfnSequenceCallback = &Callback_Sequence;
    params.pfnDecodePicture = &Callback_Decode;
    params.pfnDisplayPicture = &Callback_Display;
    params.pfnGetOperatingPoint = [](void*, CUVIDOPERATINGPOINTINFO*) {
        return -1;
    };
    KIV_RETURN_IF_CUDA_FAILED(NvDec.CreateVideoParser(&m_parser, &params));
    device()->GetImmediateContext(&m_immediateContext);
    KIV_RETURN_IF_FAILED(createOutputTextures());
    return S_OK;
}

HRESULT DecoderNvidiaBase::createOutputTextures() {
    m_textureWidth = m_streamSpecs.tgtWidth;
    m_textureHeight = (m_streamSpecs.tgtHeight + 1) & ~1u;
    KIV_RETURN_UNLESS(m_textureWidth > 0 && m_textureHeight > 0, MF_E_INVALIDMEDIATYPE);
    return CreateDecodedPictureTextures(device(), m_textureWidth, m_textureHeight, 0, m_d3dTexOut, m_staging);
}

HRESULT DecoderNvidiaBase::onInputArrived(IMFSample* sample) {
    KIV_ASSERT(Cuda.isLoaded_() && NvDec.isLoaded_());
    KIV_ASSERT(m_parser);
    KIV_ASSERT(sample);
    UINT32 number = 0;
    m_lastStreamNum = SUCCEEDED(sample->GetUINT32(KIV_GUID_STREAMNUM, &number)) ? std::int32_t(number) : -1;
    m_lastFrameNum = SUCCEEDED(sample->GetUINT32(KIV_GUID_FRAMENUM, &number)) ? std::int32_t(number) : -1;
    LONGLONG time = 0;
    KIV_RETURN_IF_FAILED(sample->GetSampleTime(&time));
    m_lastTimestamp = time;
    KIV_RETURN_IF_FAILED(sample->GetSampleDuration(&time));
    m_lastDuration = time;
    DWORD bufferCount = 0;
    KIV_RETURN_IF_FAILED(sample->GetBufferCount(&bufferCount));
    for (DWORD i = 0; i < bufferCount; ++i) {
        ComPtr<IMFMediaBuffer> buffer;
        KIV_RETURN_IF_FAILED(sample->GetBufferByIndex(i, &buffer));
        BYTE* data = nullptr;
        DWORD length = 0;
        KIV_RETURN_IF_FAILED(buffer->Lock(&data, nullptr, &length));
        CUVIDSOURCEDATAPACKET packet{};
        packet.flags = CUVID_PKT_TIMESTAMP;
        packet.payload_size = length;
        packet.payload = data;
        packet.timestamp = m_lastTimestamp;
        const HRESULT parsed = nv::CudaToHresult(NvDec.ParseVideoData(m_parser, &packet));
        buffer->Unlock();
        if (FAILED(parsed))
            return ReportFailedCall(parsed,
                                    "::kiv::nv::CudaToHresult(NvDec.ParseVideoData( m_parser, &packet ))",
                                    __PRETTY_FUNCTION__, __LINE__);
    }
    KIV_RETURN_IF_FAILED(signalNeedInput());
    return S_OK;
}

int DecoderNvidiaBase::Callback_Sequence(void* self, CUVIDEOFORMAT* format) {
    return static_cast<DecoderNvidiaBase*>(self)->onSequence(format);
}

int DecoderNvidiaBase::Callback_Decode(void* self, CUVIDPICPARAMS* picture) {
    return static_cast<DecoderNvidiaBase*>(self)->onDecode(picture);
}

int DecoderNvidiaBase::Callback_Display(void* self, CUVIDPARSERDISPINFO* display) {
    return static_cast<DecoderNvidiaBase*>(self)->onDisplay(display);
}

int DecoderNvidiaBase::onSequence(CUVIDEOFORMAT* format) {
    KIV_ASSERT(Cuda.isLoaded_() && NvDec.isLoaded_());
    KIV_ASSERT(format);
    const std::uint32_t displayWidth = std::uint32_t(format->display_area.right - format->display_area.left);
    const std::uint32_t displayHeight = std::uint32_t(format->display_area.bottom - format->display_area.top);
    if (m_decoder) {
        // A repeated sequence header keeps the decoder; new parameters end the stream with a failure.
        if (displayWidth == m_displayWidth && displayHeight == m_displayHeight)
            return std::max<int>(format->min_num_decode_surfaces, 2);
        ReportFailedCondition(MF_E_INVALIDMEDIATYPE, "!m_decoder", __PRETTY_FUNCTION__, __LINE__);
        return 0;
    }
    m_displayWidth = displayWidth;
    m_displayHeight = displayHeight;
    const unsigned bitDepthMinus8 = std::max(format->bit_depth_luma_minus8, format->bit_depth_chroma_minus8);
    CUVIDDECODECREATEINFO dcParams{};
    dcParams.ulWidth = format->coded_width;
    dcParams.ulHeight = format->coded_height;
    dcParams.ulNumDecodeSurfaces = std::max<unsigned>(format->min_num_decode_surfaces, 2);
    dcParams.CodecType = format->codec;
    dcParams.ChromaFormat = format->chroma_format;
    dcParams.ulCreationFlags = cudaVideoCreate_PreferCUVID;
    dcParams.bitDepthMinus8 = bitDepthMinus8;
    dcParams.ulIntraDecodeOnly = 0;
    dcParams.ulMaxWidth = std::max(format->coded_width, m_ctorOpts.maxWidth);
    dcParams.ulMaxHeight = std::max(format->coded_height, m_ctorOpts.maxHeight);
    dcParams.display_area.left = static_cast<short>(format->display_area.left);
    dcParams.display_area.top = static_cast<short>(format->display_area.top);
    dcParams.display_area.right = static_cast<short>(format->display_area.right);
    dcParams.display_area.bottom = static_cast<short>(format->display_area.bottom);
    dcParams.OutputFormat = static_cast<cudaVideoSurfaceFormat>(
        (bitDepthMinus8 > 0 ? 1 : 0) + (format->chroma_format == cudaVideoChromaFormat_444 ? 2 : 0));
    dcParams.DeinterlaceMode =
        format->progressive_sequence ? cudaVideoDeinterlaceMode_Weave : cudaVideoDeinterlaceMode_Adaptive;
    dcParams.ulTargetWidth = m_displayWidth;
    dcParams.ulTargetHeight = m_displayHeight;
    dcParams.ulNumOutputSurfaces = std::max<unsigned>(m_ctorOpts.displayDelay, 1) + 1;
    dcParams.vidLock = m_ctxLock;
    const ContextLock lock(m_ctxLock);
    CUresult ec_ = lock.result();
    if (ec_ != CUDA_SUCCESS || CUDA_SUCCESS != (ec_ = (NvDec.CreateDecoder(&m_decoder, &dcParams)))) {
        ReportFailedCondition(nv::CudaToHresult(ec_),
                              "CUDA_SUCCESS == (ec_ = (NvDec.CreateDecoder( &m_decoder, &dcParams )))",
                              __PRETTY_FUNCTION__, __LINE__);
        return 0;
    }
    return static_cast<int>(dcParams.ulNumDecodeSurfaces);
}

int DecoderNvidiaBase::onDecode(CUVIDPICPARAMS* picture) {
    KIV_ASSERT(Cuda.isLoaded_() && NvDec.isLoaded_());
    KIV_ASSERT(m_decoder);
    KIV_ASSERT(picture);
    ++m_pictureCount;
    m_tsDecodeStart = __rdtsc();
    const ContextLock lock(m_ctxLock);
    CUresult ec_ = lock.result();
    if (ec_ != CUDA_SUCCESS || CUDA_SUCCESS != (ec_ = NvDec.DecodePicture(m_decoder, picture))) {
        ReportFailedCall(nv::CudaToHresult(ec_), "NvDec.DecodePicture( m_decoder, picture )",
                         __PRETTY_FUNCTION__, __LINE__);
        return 0;
    }
    return 1;
}

CUresult DecoderNvidiaBase::copyPicture(CUdeviceptr picture, unsigned int pitch,
                                        const D3D11_MAPPED_SUBRESOURCE& mapped) {
    // The texture's size bounds the copy: a stream larger than the output type is cut, never written past.
    const std::uint32_t evenHeight = (m_displayHeight + 1) & ~1u;
    const std::size_t width = std::min(m_displayWidth, m_textureWidth);
    const std::size_t rows = std::min(evenHeight, m_textureHeight);
    auto* luma = static_cast<unsigned char*>(mapped.pData);
    CUDA_MEMCPY2D copy{};
    copy.srcMemoryType = CU_MEMORYTYPE_DEVICE;
    copy.srcDevice = picture;
    copy.srcPitch = pitch;
    copy.dstMemoryType = CU_MEMORYTYPE_HOST;
    copy.dstHost = luma;
    copy.dstPitch = mapped.RowPitch;
    copy.WidthInBytes = width;
    copy.Height = rows;
    if (const CUresult result = Cuda.Memcpy2DAsync_v2(&copy, m_stream); result != CUDA_SUCCESS)
        return result;
    copy.srcY = evenHeight;
    copy.dstHost = luma + std::size_t(mapped.RowPitch) * m_textureHeight;
    copy.Height = rows / 2;
    if (const CUresult result = Cuda.Memcpy2DAsync_v2(&copy, m_stream); result != CUDA_SUCCESS)
        return result;
    return Cuda.StreamSynchronize(m_stream);
}

int DecoderNvidiaBase::onDisplay(CUVIDPARSERDISPINFO* disp) {
    KIV_ASSERT(Cuda.isLoaded_() && NvDec.isLoaded_());
    KIV_ASSERT(m_decoder);
    KIV_ASSERT(m_stream);
    KIV_ASSERT(disp);
    if (!disp->progressive_frame) {
        // Interlaced pictures are not offered: the stream fails instead of showing half pictures.
        ReportFailedCondition(MF_E_UNSUPPORTED_FORMAT, "disp->progressive_frame", __PRETTY_FUNCTION__,
                              __LINE__);
        return 0;
    }
    m_tsDisplayStart = __rdtsc();
    m_lastTimestamp = disp->timestamp;
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (const HRESULT hr = m_immediateContext->Map(m_staging.Get(), 0, D3D11_MAP_WRITE, 0, &mapped);
        FAILED(hr)) {
        ReportFailedCall(hr, "m_immediateContext->Map( m_staging.Get(), 0, D3D11_MAP_WRITE, 0, &mapped )",
                         __PRETTY_FUNCTION__, __LINE__);
        return 0;
    }
    CUresult copied = CUDA_SUCCESS;
    {
        const ContextLock lock(m_ctxLock);
        CUVIDPROCPARAMS proc{};
        proc.progressive_frame = disp->progressive_frame;
        proc.second_field = disp->repeat_first_field + 1;
        proc.top_field_first = disp->top_field_first;
        proc.unpaired_field = disp->repeat_first_field < 0;
        proc.output_stream = m_stream;
        unsigned long long devPtr = 0;
        unsigned int devPitch = 0;
        CUresult ec_ = lock.result();
        if (ec_ != CUDA_SUCCESS ||
            CUDA_SUCCESS !=
                (ec_ = NvDec.MapVideoFrame64(m_decoder, disp->picture_index, &devPtr, &devPitch, &proc))) {
            m_immediateContext->Unmap(m_staging.Get(), 0);
            ReportFailedCall(
                nv::CudaToHresult(ec_),
                "NvDec.MapVideoFrame64( m_decoder, disp->picture_index, &devPtr, &devPitch, &proc )",
                __PRETTY_FUNCTION__, __LINE__);
            return 0;
        }
        m_tsMapped = __rdtsc();
        copied = copyPicture(devPtr, devPitch, mapped);
        NvDec.UnmapVideoFrame64(m_decoder, devPtr);
    }
    m_immediateContext->Unmap(m_staging.Get(), 0);
    if (copied != CUDA_SUCCESS) {
        ReportFailedCall(nv::CudaToHresult(copied), "copyPicture( devPtr, devPitch, mapped )",
                         __PRETTY_FUNCTION__, __LINE__);
        return 0;
    }
    m_immediateContext->CopyResource(m_d3dTexOut.Get(), m_staging.Get());
    m_tsCopied = __rdtsc();
    return SUCCEEDED(signalHaveOutput()) ? 1 : 0;
}

HRESULT DecoderNvidiaBase::onOutputRequested(MFT_OUTPUT_DATA_BUFFER& dataBuffer) {
    KIV_ASSERT(Cuda.isLoaded_() && NvDec.isLoaded_());
    KIV_ASSERT(m_stream);
    KIV_ASSERT(dataBuffer.dwStreamID == 0);
    KIV_ASSERT(dataBuffer.pSample == nullptr);
    KIV_RETURN_IF_FAILED(WrapDecodedPicture(m_d3dTexOut.Get(), m_lastTimestamp, m_lastDuration,
                                            m_lastStreamNum, m_lastFrameNum, &dataBuffer.pSample));
    m_tsOutput = __rdtsc();
    if (m_ctorOpts.timingLog != 0) {
        char text[300];
        std::snprintf(
            text, sizeof(text),
            "[NvDec-%s] Frame done (%ux%u, stream:%d, frame:%d)): count=%u all=%8.1fus (decode=%8.1f + "
            "extract=%8.1f + ready=%8.1f + fin=%8.1f)\n",
            EncoderNvidiaBase::CodecName(m_ctorOpts.codec), m_streamSpecs.srcWidth, m_streamSpecs.srcHeight,
            m_lastStreamNum, m_lastFrameNum, m_pictureCount,
            TscTicksToMicroseconds(m_tsOutput - m_tsDecodeStart),
            TscTicksToMicroseconds(m_tsDisplayStart - m_tsDecodeStart),
            TscTicksToMicroseconds(m_tsMapped - m_tsDisplayStart),
            TscTicksToMicroseconds(m_tsCopied - m_tsMapped), TscTicksToMicroseconds(m_tsOutput - m_tsCopied));
        OutputDebugStringA(text);
    }
    return S_OK;
}

HRESULT DecoderNvidiaBase::onSpecsChanged(bool, bool) {
    KIV_ASSERT(Cuda.isLoaded_() && NvDec.isLoaded_());
    return S_OK;
}

HRESULT DecoderNvidiaBase::onDeviceRefClearing() {
    cleanup();
    return S_OK;
}

void DecoderNvidiaBase::cleanup() {
    if (Cuda.isLoaded_() && NvDec.isLoaded_()) {
        if (m_ctxLock != nullptr) {
            const ContextLock lock(m_ctxLock);
            if (m_decoder)
                NvDec.DestroyDecoder(m_decoder);
            if (m_parser)
                NvDec.DestroyVideoParser(m_parser);
            if (m_stream)
                Cuda.StreamDestroy_v2(m_stream);
        }
        if (m_ctxLock != nullptr)
            NvDec.CtxLockDestroy(m_ctxLock);
        if (m_context != nullptr)
            Cuda.CtxDestroy_v2(m_context);
    }
    m_decoder = nullptr;
    m_parser = nullptr;
    m_stream = nullptr;
    m_ctxLock = nullptr;
    m_context = nullptr;
    m_staging = nullptr;
    m_d3dTexOut = nullptr;
    m_immediateContext = nullptr;
    m_device = -1;
}

} // namespace kiv::mfcodec
