#include "MfDecoderIntelBase.h"

#include "CodecReport.h"
#include "DecodedPicture.h"
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

namespace kiv::mfcodec {

namespace {

intel::VplInterface Vpl;

// What creating the output texture needs and the transform lacks.
constexpr HRESULT NoVideoDevice = MakeHResult(0x80041000);

} // namespace

#define KIV_RETURN_IF_VPL_FAILED(call) KIV_RETURN_IF_FAILED(::kiv::intel::ToHresult(call))

DecoderIntelBase::DecoderIntelBase(const RegistrationInfo& regInfo, const CtorOpts& ctorOpts,
                                   const EncoderQuery& extOpts)
    : Base(regInfo), m_ctorOpts(ctorOpts), m_extOpts(extOpts) {
    KIV_THROW_UNLESS(m_ctorOpts.codec != Codec::INVALID);
    KIV_THROW_UNLESS(extOpts.deviceVendor == +VendorId::Intel);
    KIV_THROW_UNLESS(Vpl.load_() == intel::Error::None);
    m_codecFourCC = EncoderIntelBase::CodecFourCC(m_ctorOpts.codec);
    KIV_THROW_UNLESS(m_codecFourCC != 0);
}

DecoderIntelBase::~DecoderIntelBase() { teardown(); }

HRESULT DecoderIntelBase::onDeviceRefSet() {
    KIV_RETURN_UNLESS(Vpl.isLoaded_(), MF_E_NOT_INITIALIZED);
    return S_OK;
}

HRESULT DecoderIntelBase::onSpecsChanged(bool, bool) {
    // A new stream needs a new streaming start.
    KIV_RETURN_UNLESS(Vpl.isLoaded_(), MF_E_NOT_INITIALIZED);
    return S_OK;
}

HRESULT DecoderIntelBase::onDeviceRefClearing() {
    KIV_RETURN_UNLESS(Vpl.isLoaded_(), MF_E_NOT_INITIALIZED);
    teardown();
    return S_OK;
}

HRESULT DecoderIntelBase::onBeginStreaming() {
    KIV_RETURN_UNLESS(Vpl.isLoaded_(), MF_E_NOT_INITIALIZED);
    ID3D11Device* d3dDevice = nullptr;
    KIV_RETURN_UNLESS(d3dDevice = device(), MF_E_NOT_INITIALIZED);
    KIV_RETURN_IF_FAILED(getVideoSpecs(&m_streamSpecs, nullptr));
    KIV_RETURN_IF_FAILED(Vpl.createSession_(&m_session, d3dDevice, m_codecFourCC, false, true));
    m_staging = static_cast<mfxU8*>(AlignedAlloc(StagingBytes, 32));
    KIV_RETURN_UNLESS(m_staging, E_OUTOFMEMORY);
    return S_OK;
}

HRESULT DecoderIntelBase::onInputArrived(IMFSample* sample) {
    KIV_ASSERT(Vpl.isLoaded_());
    KIV_ASSERT(m_session);
    KIV_ASSERT(sample);
    m_tsInput = __rdtsc();
    // A failed input still asks for the next one.
    const HRESULT result = decodeSample(sample);
    const HRESULT asked = signalNeedInput();
    return FAILED(result) ? result : asked;
}

HRESULT DecoderIntelBase::decodeSample(IMFSample* sample) {
    m_lastStreamNum = MFGetAttributeUINT32(sample, KIV_GUID_STREAMNUM, 0xFFFFFFFF);
    m_lastFrameNum = MFGetAttributeUINT32(sample, KIV_GUID_FRAMENUM, 0xFFFFFFFF);
    KIV_RETURN_IF_FAILED(sample->GetSampleTime(&m_lastTimestamp));
    KIV_RETURN_IF_FAILED(sample->GetSampleDuration(&m_lastDuration));
    ComPtr<IMFMediaBuffer> buffer;
    KIV_RETURN_IF_FAILED(sample->ConvertToContiguousBuffer(&buffer));
    BYTE* dataPtr = nullptr;
    DWORD dataLen = 0;
    KIV_RETURN_IF_FAILED(buffer->Lock(&dataPtr, nullptr, &dataLen));
    const HRESULT processed = dataLen != 0 ? processData(dataPtr, dataLen, m_lastTimestamp) : S_OK;
    buffer->Unlock();
    return processed;
}

HRESULT DecoderIntelBase::processData(const BYTE* buff, DWORD bytes, LONGLONG sampleTime) {
    KIV_ASSERT(Vpl.isLoaded_());
    KIV_ASSERT(m_session);
    KIV_ASSERT(buff);
    KIV_ASSERT(bytes > 0);
    mfxU8* data = const_cast<BYTE*>(buff); // the runtime only reads it
    if (reinterpret_cast<std::uintptr_t>(buff) % 32 != 0) {
        KIV_RETURN_UNLESS(bytes <= StagingBytes, MF_E_BUFFERTOOSMALL);
        std::memcpy(m_staging, buff, bytes);
        data = m_staging;
    }
    mfxBitstream bits{};
    bits.CodecId = m_codecFourCC;
    bits.DecodeTimeStamp = 0;
    bits.TimeStamp = static_cast<mfxU64>(sampleTime) * 9 / 1000;
    bits.Data = data;
    bits.DataOffset = 0;
    bits.DataLength = bits.MaxLength = bytes;
    bits.DataFlag = MFX_BITSTREAM_COMPLETE_FRAME;
    KIV_RETURN_IF_FAILED(initDecoderIfNeeded(&bits));
    KIV_ASSERT(m_decoderInitialized);

    mfxFrameSurface1* decodedSurf = nullptr;
    mfxSyncPoint syncPoint = nullptr;
    mfxStatus decodeFrameAsyncResult = MFX_WRN_DEVICE_BUSY;
    for (;;) {
        decodeFrameAsyncResult =
            Vpl.VideoDECODE_DecodeFrameAsync(m_session, &bits, nullptr, &decodedSurf, &syncPoint);
        if (decodeFrameAsyncResult != MFX_WRN_DEVICE_BUSY)
            break;
        SwitchToThread();
    }
    if (decodeFrameAsyncResult == MFX_ERR_MORE_DATA) {
        LogWarn("[INTEL DEC] Need more data: %u, %u, %u, %u", m_frameCount, bits.DataOffset, bits.DataLength,
                bits.MaxLength);
        return S_OK;
    }
    KIV_RETURN_IF_FAILED(::kiv::intel::ToHresult(decodeFrameAsyncResult));
    // A warning leaves the picture's fate open: it is not passed on as decoded.
    if (decodeFrameAsyncResult != MFX_ERR_NONE && decodedSurf != nullptr)
        decodedSurf->FrameInterface->Release(decodedSurf);
    KIV_RETURN_UNLESS(MFX_ERR_NONE == decodeFrameAsyncResult, E_UNEXPECTED);
    KIV_ASSERT(decodedSurf);
    mfxFrameSurfaceInterface* const iface = decodedSurf->FrameInterface;
    KIV_ASSERT(iface);
    ++m_frameCount;
    m_tsDecoded = __rdtsc();
    // Linux: the picture is read by the processor, so it must be finished first.
    HRESULT hr = intel::ToHresult(Vpl.syncOperation_(m_session, syncPoint));
    if (FAILED(hr))
        ReportFailedCall(hr, "::kiv::intel::ToHresult(Vpl.syncOperation_( m_session, syncPoint ))",
                         __PRETTY_FUNCTION__, __LINE__);
    else
        hr = copyPicture(decodedSurf);
    iface->Release(decodedSurf);
    KIV_RETURN_IF_FAILED(hr);
    m_tsCopied = __rdtsc();
    KIV_RETURN_IF_FAILED(signalHaveOutput());
    return S_OK;
}

HRESULT DecoderIntelBase::initDecoderIfNeeded(mfxBitstream* inoutBitstream) {
    KIV_ASSERT(Vpl.isLoaded_());
    KIV_ASSERT(m_session);
    KIV_ASSERT(inoutBitstream && inoutBitstream->Data &&
               inoutBitstream->DataLength > inoutBitstream->DataOffset);
    if (m_decoderInitialized)
        return S_OK;
    mfxVideoParam params{};
    params.AsyncDepth = m_extOpts.speedQualityPreset < 0 ? 1 : 0;
    params.mfx.CodecId = m_codecFourCC;
    // Linux: pictures in system memory, which the processor copies into the output texture.
    params.IOPattern = MFX_IOPATTERN_OUT_SYSTEM_MEMORY;
    KIV_RETURN_IF_VPL_FAILED(Vpl.VideoDECODE_DecodeHeader(m_session, inoutBitstream, &params));
    KIV_RETURN_UNLESS(MFX_FOURCC_NV12 == params.mfx.FrameInfo.FourCC, MF_E_INVALIDMEDIATYPE);
    KIV_RETURN_IF_VPL_FAILED(Vpl.VideoDECODE_Init(m_session, &params));
    // Without its texture the decoder is closed again, and the next input starts over.
    if (const HRESULT hr = createOutputTextures(params.mfx.FrameInfo); FAILED(hr)) {
        Vpl.VideoDECODE_Close(m_session);
        return hr;
    }
    m_decoderInitialized = true;
    return S_OK;
}

HRESULT DecoderIntelBase::createOutputTextures(const mfxFrameInfo& info) {
    ID3D11Device* d3dDevice = nullptr;
    KIV_RETURN_UNLESS(d3dDevice = device(), NoVideoDevice);
    m_d3dDevCtx = nullptr;
    d3dDevice->GetImmediateContext(m_d3dDevCtx.ReleaseAndGetAddressOf());
    KIV_RETURN_UNLESS(m_d3dDevCtx, E_UNEXPECTED);
    // An NV12 picture has whole chroma rows; a stream that says otherwise is not decoded.
    KIV_RETURN_UNLESS(info.CropW > 0 && info.CropH > 0 && info.CropH % 2 == 0, MF_E_INVALIDMEDIATYPE);
    return CreateDecodedPictureTextures(d3dDevice, info.CropW, info.CropH,
                                        D3D11_RESOURCE_MISC_SHARED | D3D11_RESOURCE_MISC_SHARED_NTHANDLE,
                                        m_d3dTexOut, m_stagingTexture);
}

HRESULT DecoderIntelBase::copyPicture(mfxFrameSurface1* surface) {
    KIV_RETURN_IF_VPL_FAILED(surface->FrameInterface->Map(surface, MFX_MAP_READ));
    D3D11_MAPPED_SUBRESOURCE mapped{};
    const HRESULT hr = m_d3dDevCtx->Map(m_stagingTexture.Get(), 0, D3D11_MAP_WRITE, 0, &mapped);
    if (SUCCEEDED(hr)) {
        D3D11_TEXTURE2D_DESC desc{};
        m_d3dTexOut->GetDesc(&desc);
        // The texture has the first picture's size: a later picture of another size is cut to it.
        const mfxFrameInfo& info = surface->Info;
        const std::size_t width = std::min<std::size_t>(info.CropW, desc.Width) & ~std::size_t(1);
        const std::size_t rows = std::min<std::size_t>(info.CropH, desc.Height) & ~std::size_t(1);
        const std::size_t pitch = intel::SurfacePitch(surface->Data);
        const std::size_t left = info.CropX & ~1u;
        auto* target = static_cast<mfxU8*>(mapped.pData);
        intel::CopyRows(target, mapped.RowPitch, surface->Data.Y + info.CropY * pitch + left, pitch, width,
                        rows);
        intel::CopyRows(target + std::size_t(mapped.RowPitch) * desc.Height, mapped.RowPitch,
                        surface->Data.UV + (info.CropY / 2) * pitch + left, pitch, width, rows / 2);
        m_d3dDevCtx->Unmap(m_stagingTexture.Get(), 0);
    }
    surface->FrameInterface->Unmap(surface);
    KIV_RETURN_IF_FAILED(hr);
    m_d3dDevCtx->CopyResource(m_d3dTexOut.Get(), m_stagingTexture.Get());
    return S_OK;
}

HRESULT DecoderIntelBase::onOutputRequested(MFT_OUTPUT_DATA_BUFFER& dataBuffer) {
    KIV_ASSERT(Vpl.isLoaded_());
    KIV_ASSERT(m_decoderInitialized);
    KIV_ASSERT(dataBuffer.dwStreamID == 0);
    KIV_ASSERT(dataBuffer.pSample == nullptr);
    m_tsOutput = __rdtsc();
    KIV_RETURN_IF_FAILED(WrapDecodedPicture(m_d3dTexOut.Get(), m_lastTimestamp, m_lastDuration,
                                            m_lastStreamNum, m_lastFrameNum, &dataBuffer.pSample));
    m_tsDone = __rdtsc();
    if (m_ctorOpts.timingLog != 0) {
        char text[300];
        std::snprintf(
            text, sizeof(text),
            "[IntelDec-%s] Frame done (%ux%u, stream:%d, frame:%d)): count=%u all=%8.1fus (prep=%8.1f "
            "+ dec=%8.1f + fin=%8.1f)\n",
            TransformCodecName(m_ctorOpts.codec), m_streamSpecs.srcWidth, m_streamSpecs.srcHeight,
            static_cast<int>(m_lastStreamNum), static_cast<int>(m_lastFrameNum), m_frameCount,
            TscTicksToMicroseconds(m_tsDone - m_tsInput), TscTicksToMicroseconds(m_tsDecoded - m_tsInput),
            TscTicksToMicroseconds(m_tsCopied - m_tsDecoded), TscTicksToMicroseconds(m_tsDone - m_tsOutput));
        OutputDebugStringA(text);
    }
    return S_OK;
}

void DecoderIntelBase::teardown() {
    if (Vpl.isLoaded_() && m_session != nullptr) {
        if (m_decoderInitialized)
            Vpl.VideoDECODE_Close(m_session);
        Vpl.Close(m_session);
    }
    if (m_staging != nullptr)
        AlignedFree(m_staging);
    m_staging = nullptr;
    m_decoderInitialized = false;
    m_session = nullptr;
    m_d3dDevCtx = nullptr;
    m_d3dTexOut = nullptr;
    m_stagingTexture = nullptr;
}

DecoderIntelH264::DecoderIntelH264(const RegistrationInfo& regInfo, const EncoderQuery& query)
    : DecoderIntelBase(regInfo, Options, query) {}

void DecoderIntelH264::create(ComPtr<Base>& object, const EncoderQuery& query) {
    object = new DecoderIntelH264(RegistrationOf(&DecoderIntelH264::create), query);
}

DecoderIntelHevc::DecoderIntelHevc(const RegistrationInfo& regInfo, const EncoderQuery& query)
    : DecoderIntelBase(regInfo, Options, query) {}

void DecoderIntelHevc::create(ComPtr<Base>& object, const EncoderQuery& query) {
    object = new DecoderIntelHevc(RegistrationOf(&DecoderIntelHevc::create), query);
}

} // namespace kiv::mfcodec
