#include "MfEncoderIntelBase.h"

#include "CodecReport.h"
#include "EncodedPacket.h"
#include "Exception.h"
#include "MfCodec.h"
#include "SampleAttributes.h"
#include "Util/Logger.h"
#include <debugapi.h>
#include <intrin.h>
#include <mferror.h>
#include <processthreadsapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace kiv::mfcodec {

namespace {

intel::VplInterface Vpl;

constexpr std::size_t VideoParamBytes = 208;
static_assert(sizeof(mfxVideoParam) == VideoParamBytes);

// The rate fields hold kbit/s in 16 bits; a higher rate is held at their top instead of wrapping round.
mfxU16 Kbps(std::uint32_t bitsPerSecond) {
    return static_cast<mfxU16>(std::min(bitsPerSecond / 1000, 0xFFFFu));
}

// " 12->34" for every byte the runtime changed.
std::string ModifiedBytes(const mfxVideoParam& asked, const mfxVideoParam& fixed) {
    const auto* a = reinterpret_cast<const unsigned char*>(&asked);
    const auto* b = reinterpret_cast<const unsigned char*>(&fixed);
    std::string text;
    for (std::size_t i = 0; i < VideoParamBytes; ++i)
        if (a[i] != b[i])
            text += " " + std::to_string(i) + "->" + std::to_string(b[i]);
    return text;
}

} // namespace

#define KIV_RETURN_IF_VPL_FAILED(call) KIV_RETURN_IF_FAILED(::kiv::intel::ToHresult(call))

mfxU32 EncoderIntelBase::CodecFourCC(Codec codec) {
    switch (codec) {
    case Codec::H264:
        return MFX_CODEC_AVC;
    case Codec::HEVC:
        return MFX_CODEC_HEVC;
    case Codec::AV1:
        return MFX_CODEC_AV1;
    default:
        return 0;
    }
}

EncoderIntelBase::EncoderIntelBase(const RegistrationInfo& regInfo, const CtorOpts& ctorOpts,
                                   const EncoderQuery& extOpts)
    : Base(regInfo), m_ctorOpts(ctorOpts), m_extOpts(extOpts) {
    KIV_THROW_UNLESS(m_ctorOpts.codec != Codec::INVALID);
    KIV_THROW_UNLESS(extOpts.deviceVendor == +VendorId::Intel);
    KIV_THROW_UNLESS(Vpl.load_() == intel::Error::None);
    m_codecFourCC = CodecFourCC(m_ctorOpts.codec);
    KIV_THROW_UNLESS(m_codecFourCC != 0);
}

EncoderIntelBase::~EncoderIntelBase() { teardown(); }

HRESULT EncoderIntelBase::onDeviceRefSet() {
    KIV_RETURN_UNLESS(Vpl.isLoaded_(), MF_E_NOT_INITIALIZED);
    return S_OK;
}

HRESULT EncoderIntelBase::onDeviceRefClearing() {
    KIV_RETURN_UNLESS(Vpl.isLoaded_(), MF_E_NOT_INITIALIZED);
    teardown();
    return S_OK;
}

HRESULT EncoderIntelBase::onForceKeyFrame() {
    m_forceKeyFrame.store(true);
    return S_OK;
}

mfxVideoParam EncoderIntelBase::initialParams() const {
    const bool argb = m_streamSpecs.srcSubtype == MFVideoFormat_ARGB32;
    mfxVideoParam params{};
    params.AsyncDepth = 1;
    mfxFrameInfo& info = params.mfx.FrameInfo;
    info.BitDepthLuma = 8;
    info.BitDepthChroma = 8;
    info.FourCC = argb ? MFX_FOURCC_RGB4 : MFX_FOURCC_NV12;
    info.Width = static_cast<mfxU16>((m_streamSpecs.srcWidth + 15) & ~15u);
    info.Height = static_cast<mfxU16>((m_streamSpecs.srcHeight + 15) & ~15u);
    info.CropW = static_cast<mfxU16>(m_streamSpecs.srcWidth);
    info.CropH = static_cast<mfxU16>(m_streamSpecs.srcHeight);
    info.FrameRateExtN = m_streamSpecs.srcFpsNum;
    info.FrameRateExtD = m_streamSpecs.srcFpsDen;
    info.PicStruct = MFX_PICSTRUCT_PROGRESSIVE;
    info.ChromaFormat = argb ? MFX_CHROMAFORMAT_YUV444 : MFX_CHROMAFORMAT_YUV420;
    mfxInfoMFX& mfx = params.mfx;
    mfx.CodecId = m_codecFourCC;
    const int preset = m_extOpts.speedQualityPreset;
    mfx.TargetUsage = preset > 0 ? MFX_TARGETUSAGE_BEST_QUALITY
                                 : (preset == 0 ? MFX_TARGETUSAGE_BALANCED : MFX_TARGETUSAGE_BEST_SPEED);
    mfx.GopPicSize = 0;
    mfx.GopRefDist = 1;
    mfx.GopOptFlag = MFX_GOP_CLOSED;
    mfx.IdrInterval = 0;
    mfx.RateControlMethod = MFX_RATECONTROL_VBR;
    mfx.BufferSizeInKB = 4194;
    mfx.TargetKbps = Kbps(m_streamSpecs.tgtBpsAvg);
    mfx.MaxKbps = 0;
    // Linux: the frames are copied into system-memory surfaces of the runtime.
    params.IOPattern = MFX_IOPATTERN_IN_SYSTEM_MEMORY;
    return params;
}

HRESULT EncoderIntelBase::onBeginStreaming() {
    KIV_RETURN_UNLESS(Vpl.isLoaded_(), MF_E_NOT_INITIALIZED);
    ID3D11Device* d3dDevice = nullptr;
    KIV_RETURN_UNLESS(d3dDevice = device(), MF_E_NOT_INITIALIZED);
    KIV_RETURN_IF_FAILED(getVideoSpecs(&m_streamSpecs, nullptr));
    using Bits = StreamSpecs::Bits;
    KIV_RETURN_UNLESS((m_streamSpecs.present & Bits::srcTyp) && (m_streamSpecs.present & Bits::srcRes) &&
                          (m_streamSpecs.present & Bits::srcFps) && (m_streamSpecs.present & Bits::tgtBps),
                      MF_E_NOT_INITIALIZED);
    KIV_RETURN_UNLESS(m_streamSpecs.srcSubtype == MFVideoFormat_ARGB32 ||
                          m_streamSpecs.srcSubtype == MFVideoFormat_NV12,
                      MF_E_INVALIDMEDIATYPE);
    KIV_RETURN_IF_FAILED(Vpl.createSession_(&m_session, d3dDevice, m_codecFourCC, true, false));
    mfxVideoParam initParams = initialParams();
    KIV_RETURN_IF_FAILED(initSession(initParams));
    m_bitstreamBuffer = static_cast<mfxU8*>(AlignedAlloc(BitstreamBytes, 32));
    KIV_RETURN_UNLESS(m_bitstreamBuffer, E_OUTOFMEMORY);
    return S_OK;
}

HRESULT EncoderIntelBase::initSession(mfxVideoParam& initParams) {
    mfxVideoParam fixedParams{};
    fixedParams.mfx.CodecId = m_codecFourCC;
    const mfxStatus queryRes = Vpl.VideoENCODE_Query(m_session, &initParams, &fixedParams);
    KIV_RETURN_IF_FAILED(::kiv::intel::ToHresult(queryRes));
    if (queryRes != MFX_ERR_NONE) {
        LogWarn("MFXVideoENCODE_Query() returned %d; modified bytes: %s", static_cast<int>(queryRes),
                ModifiedBytes(initParams, fixedParams).c_str());
        initParams = fixedParams;
    }
    KIV_RETURN_IF_VPL_FAILED(Vpl.VideoENCODE_Init(m_session, &initParams));
    m_encoderInitialized = true;
    return S_OK;
}

HRESULT EncoderIntelBase::onInputArrived(IMFSample* sample) {
    KIV_ASSERT(Vpl.isLoaded_());
    KIV_ASSERT(sample);
    m_tsInput = __rdtsc();
    const bool forceKeyFrame = m_forceKeyFrame.exchange(false);
    // After the device was lost only a new streaming start makes a session; the frame is refused.
    KIV_RETURN_UNLESS(m_session, MF_E_NOT_INITIALIZED);
    const HRESULT result = encode(sample, forceKeyFrame);
    const HRESULT asked = signalNeedInput();
    return FAILED(result) ? result : asked;
}

HRESULT EncoderIntelBase::encode(IMFSample* sample, bool forceKeyFrame) {
    m_lastStreamNum = MFGetAttributeUINT32(sample, KIV_GUID_STREAMNUM, 0xFFFFFFFF);
    m_lastFrameNum = MFGetAttributeUINT32(sample, KIV_GUID_FRAMENUM, 0xFFFFFFFF);
    KIV_RETURN_IF_FAILED(sample->GetSampleTime(&m_lastTimestamp));
    KIV_RETURN_IF_FAILED(sample->GetSampleDuration(&m_lastDuration));
    ComPtr<IMFMediaBuffer> buffer;
    KIV_RETURN_IF_FAILED(sample->GetBufferByIndex(0, &buffer));
    ComPtr<IMFDXGIBuffer> dxgiBuffer;
    KIV_RETURN_IF_FAILED(buffer.As(&dxgiBuffer));
    ComPtr<ID3D11Texture2D> texture;
    KIV_RETURN_IF_FAILED(dxgiBuffer->GetResource(IID_PPV_ARGS(&texture)));
    UINT subresource = 0;
    KIV_RETURN_IF_FAILED(dxgiBuffer->GetSubresourceIndex(&subresource));

    mfxFrameSurface1* surface = nullptr;
    KIV_RETURN_IF_VPL_FAILED(Vpl.Memory_GetSurfaceForEncode(m_session, &surface));
    KIV_ASSERT(surface && surface->FrameInterface);
    HRESULT hr = fillSurface(texture.Get(), subresource, surface);
    if (SUCCEEDED(hr)) {
        // 90 kHz, as the runtime counts.
        surface->Data.TimeStamp = static_cast<mfxU64>(m_lastTimestamp) * 9 / 1000;
        hr = submit(forceKeyFrame, surface);
    }
    // The runtime holds the surface as long as it needs it.
    if (m_session != nullptr) {
        const HRESULT released = intel::ToHresult(surface->FrameInterface->Release(surface));
        if (SUCCEEDED(hr) && FAILED(released))
            hr = ReportFailedCall(released,
                                  "::kiv::intel::ToHresult(surface->FrameInterface->Release( surface ))",
                                  __PRETTY_FUNCTION__, __LINE__);
    }
    if (hr == S_OK && m_output.DataLength != 0)
        KIV_RETURN_IF_FAILED(signalHaveOutput());
    return hr;
}

HRESULT EncoderIntelBase::fillSurface(ID3D11Texture2D* texture, UINT subresource, mfxFrameSurface1* surface) {
    D3D11_TEXTURE2D_DESC desc{};
    texture->GetDesc(&desc);
    const bool nv12 = surface->Info.FourCC == MFX_FOURCC_NV12;
    KIV_RETURN_UNLESS(desc.Format == (nv12 ? DXGI_FORMAT_NV12 : DXGI_FORMAT_B8G8R8A8_UNORM),
                      MF_E_INVALIDMEDIATYPE);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    KIV_RETURN_IF_FAILED(m_readback.map(device(), texture, subresource, mapped));
    const HRESULT hr = intel::ToHresult(surface->FrameInterface->Map(surface, MFX_MAP_WRITE));
    if (SUCCEEDED(hr)) {
        // A texture of another size than the stream's is cut or left black, never read or written past.
        const mfxFrameInfo& info = surface->Info;
        const std::size_t width = std::min<std::size_t>(info.CropW, desc.Width);
        const std::size_t rows = std::min<std::size_t>(info.CropH, desc.Height);
        const std::size_t pitch = intel::SurfacePitch(surface->Data);
        const auto* source = static_cast<const mfxU8*>(mapped.pData);
        if (nv12) {
            intel::CopyRows(surface->Data.Y, pitch, source, mapped.RowPitch, width, rows);
            intel::CopyRows(surface->Data.UV, pitch, source + std::size_t(mapped.RowPitch) * desc.Height,
                            mapped.RowPitch, width, rows / 2);
        } else {
            intel::CopyRows(surface->Data.B, pitch, source, mapped.RowPitch, width * 4, rows);
        }
        surface->FrameInterface->Unmap(surface);
    }
    m_readback.unmap();
    KIV_RETURN_IF_FAILED(hr);
    return S_OK;
}

HRESULT EncoderIntelBase::submit(bool forceKeyFrame, mfxFrameSurface1* surface) {
    mfxEncodeCtrl ctrl{};
    ctrl.FrameType = forceKeyFrame ? MFX_FRAMETYPE_IDR | MFX_FRAMETYPE_I : 0;
    m_output = mfxBitstream{};
    m_output.Data = m_bitstreamBuffer;
    m_output.MaxLength = BitstreamBytes;
    m_tsSubmit = __rdtsc();
    ++m_frameCount;
    mfxSyncPoint syncPoint = nullptr;
    mfxStatus encodeFrameAsyncResult = MFX_WRN_DEVICE_BUSY;
    for (;;) {
        encodeFrameAsyncResult =
            Vpl.VideoENCODE_EncodeFrameAsync(m_session, &ctrl, surface, &m_output, &syncPoint);
        if (encodeFrameAsyncResult != MFX_WRN_DEVICE_BUSY)
            break;
        SwitchToThread();
    }
    if (encodeFrameAsyncResult == MFX_ERR_DEVICE_LOST) {
        LogError("[INTEL ENC] Device lost.");
        // The surface goes with its session.
        surface->FrameInterface->Release(surface);
        teardown();
        return E_FAIL;
    }
    if (encodeFrameAsyncResult == MFX_ERR_MORE_DATA) {
        LogWarn("[INTEL ENC] Need more data: %u, %u, %u, %u", m_frameCount, m_output.DataOffset,
                m_output.DataLength, m_output.MaxLength);
        return S_OK;
    }
    m_tsSubmitted = __rdtsc();
    KIV_RETURN_IF_FAILED(::kiv::intel::ToHresult(encodeFrameAsyncResult));
    // A warning after a submission leaves the frame's fate open: it is not passed on as encoded.
    KIV_RETURN_UNLESS(MFX_ERR_NONE == encodeFrameAsyncResult, E_UNEXPECTED);
    if (syncPoint != nullptr)
        KIV_RETURN_IF_VPL_FAILED(Vpl.syncOperation_(m_session, syncPoint));
    return S_OK;
}

HRESULT EncoderIntelBase::onOutputRequested(MFT_OUTPUT_DATA_BUFFER& dataBuffer) {
    KIV_ASSERT(Vpl.isLoaded_());
    KIV_ASSERT(dataBuffer.dwStreamID == 0);
    KIV_ASSERT(dataBuffer.pSample == nullptr);
    m_tsOutput = __rdtsc();
    const DWORD length = m_output.DataLength;
    // A runtime's answer, so a packet that breaks it fails the stream instead of the process.
    KIV_RETURN_UNLESS(bool(m_output.FrameType & MFX_FRAMETYPE_IDR) ==
                          bool(m_output.FrameType & MFX_FRAMETYPE_I),
                      E_UNEXPECTED);
    KIV_RETURN_IF_FAILED(WrapEncodedPacket(m_output.Data + m_output.DataOffset, length, m_lastTimestamp,
                                           m_lastDuration, (m_output.FrameType & MFX_FRAMETYPE_IDR) != 0,
                                           m_lastStreamNum, m_lastFrameNum, &dataBuffer.pSample));
    m_tsDone = __rdtsc();
    if (m_ctorOpts.timingLog != 0) {
        char text[300];
        std::snprintf(
            text, sizeof(text),
            "[IntelEnc-%s] Frame done (%ux%u, stream:%d, frame:%d)): count=%u all=%8.1fus (prep=%8.1f "
            "+ dec=%8.1f + wait=%8.1f + fin=%8.1f)\n",
            TransformCodecName(m_ctorOpts.codec), m_streamSpecs.srcWidth, m_streamSpecs.srcHeight,
            static_cast<int>(m_lastStreamNum), static_cast<int>(m_lastFrameNum), m_frameCount,
            TscTicksToMicroseconds(m_tsDone - m_tsInput), TscTicksToMicroseconds(m_tsSubmit - m_tsInput),
            TscTicksToMicroseconds(m_tsSubmitted - m_tsSubmit),
            TscTicksToMicroseconds(m_tsOutput - m_tsSubmitted),
            TscTicksToMicroseconds(m_tsDone - m_tsOutput));
        OutputDebugStringA(text);
    }
    return S_OK;
}

HRESULT EncoderIntelBase::onSpecsChanged(bool, bool) {
    KIV_RETURN_UNLESS(Vpl.isLoaded_(), MF_E_NOT_INITIALIZED);
    if (!m_session)
        return S_OK;
    const StreamSpecs prevSpecs = m_streamSpecs;
    KIV_RETURN_IF_FAILED(getVideoSpecs(&m_streamSpecs, &prevSpecs));
    mfxVideoParam initParams{};
    KIV_RETURN_IF_VPL_FAILED(Vpl.VideoENCODE_GetVideoParam(m_session, &initParams));
    using Bits = StreamSpecs::Bits;
    const std::uint32_t changed = m_streamSpecs.changed;
    const std::uint32_t present = m_streamSpecs.present;
    bool apply = false;
    if ((changed & Bits::srcFps) && (present & Bits::srcFps)) {
        initParams.mfx.FrameInfo.FrameRateExtN = m_streamSpecs.srcFpsNum;
        initParams.mfx.FrameInfo.FrameRateExtD = m_streamSpecs.srcFpsDen;
        apply = true;
    }
    if ((changed & Bits::tgtBps) && (present & Bits::tgtBps)) {
        initParams.mfx.TargetKbps = Kbps(m_streamSpecs.tgtBpsAvg);
        initParams.mfx.MaxKbps = 0;
        apply = true;
    }
    if (changed & Bits::minSmp)
        LogWarn("Custom VPL-based encoder doesn't support dynamic queue depth change (yet)");
    if (changed & (Bits::srcTyp | Bits::tgtTyp))
        LogWarn("Custom VPL-based encoder doesn't support dynamic format change (yet)");
    if (changed & (Bits::srcRes | Bits::tgtRes))
        LogWarn("Custom VPL-based encoder doesn't support dynamic resolution change (yet)");
    if (apply)
        KIV_RETURN_IF_VPL_FAILED(Vpl.VideoENCODE_Reset(m_session, &initParams));
    return S_OK;
}

void EncoderIntelBase::teardown() {
    if (Vpl.isLoaded_() && m_session != nullptr) {
        if (m_encoderInitialized)
            Vpl.VideoENCODE_Close(m_session);
        Vpl.Close(m_session);
    }
    if (m_bitstreamBuffer != nullptr)
        AlignedFree(m_bitstreamBuffer);
    m_session = nullptr;
    m_encoderInitialized = false;
    m_output = mfxBitstream{};
    m_bitstreamBuffer = nullptr;
    m_forceKeyFrame.store(false);
    m_readback.reset();
}

EncoderIntelH264::EncoderIntelH264(const RegistrationInfo& regInfo, const EncoderQuery& query)
    : EncoderIntelBase(regInfo, Options, query) {}

void EncoderIntelH264::create(ComPtr<Base>& object, const EncoderQuery& query) {
    object = new EncoderIntelH264(RegistrationOf(&EncoderIntelH264::create), query);
}

EncoderIntelHevc::EncoderIntelHevc(const RegistrationInfo& regInfo, const EncoderQuery& query)
    : EncoderIntelBase(regInfo, Options, query) {}

void EncoderIntelHevc::create(ComPtr<Base>& object, const EncoderQuery& query) {
    object = new EncoderIntelHevc(RegistrationOf(&EncoderIntelHevc::create), query);
}

} // namespace kiv::mfcodec
