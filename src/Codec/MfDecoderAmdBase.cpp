#include "MfDecoderAmdBase.h"

#include "CodecReport.h"
#include "DecodedPicture.h"
#include "Exception.h"
#include "MfHelperAmd.h"
#include "SampleAttributes.h"
#include <debugapi.h>
#include <intrin.h>
#include <mfapi.h>
#include <mferror.h>
#include <processthreadsapi.h>
#include <stringapiset.h>
#include <synchapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kiv::mfcodec {

namespace {

amd::AmfInterface Amf;

const wchar_t* DecoderName(std::uint8_t codec) {
    switch (codec) {
    case 0:
        return L"AMFVideoDecoderUVD_H264_AVC";
    case 1:
        return L"AMFVideoDecoderHW_H265_HEVC";
    default:
        return L"AMFVideoDecoderHW_AV1";
    }
}

constexpr std::int64_t AMF_TS_DECODE = 2;
constexpr std::int64_t AMF_VIDEO_DECODER_MODE_LOW_LATENCY = 2;
constexpr UINT32 NoNumber = 0xFFFFFFFF;

} // namespace

DecoderAmdBase::DecoderAmdBase(const RegistrationInfo& regInfo, const DecoderOpts& opts,
                               const EncoderQuery& extOpts)
    : Base(regInfo), m_opts(opts), m_extOpts(extOpts) {
    KIV_THROW_UNLESS(m_extOpts.decoder == 1);
    KIV_THROW_UNLESS(m_extOpts.deviceVendor == +VendorId::Amd);
    KIV_THROW_UNLESS(m_extOpts.videoCodec == VideoCodecChoice::H264 ||
                     m_extOpts.videoCodec == VideoCodecChoice::Hevc);
    KIV_THROW_UNLESS(Amf.load_() == amd::Error::None);
    KIV_THROW_UNLESS(Amf.isLoaded_());
    KIV_THROW_UNLESS(Amf.factory() != nullptr);
}

DecoderAmdBase::~DecoderAmdBase() { teardown(); }

std::int64_t DecoderAmdBase::PoolSize(std::uint32_t minOutputSamples) {
    const std::uint32_t buffCount = std::min<std::uint32_t>(minOutputSamples, 16);
    return buffCount < 3 ? 2 : buffCount;
}

HRESULT DecoderAmdBase::onBeginStreaming() {
    KIV_ASSERT(Amf.isLoaded_());
    KIV_ASSERT(canInitialize());
    KIV_ASSERT(nullptr != device());
    KIV_RETURN_IF_FAILED(getVideoSpecs(&m_streamSpecs, nullptr));
    using Bits = StreamSpecs::Bits;
    KIV_RETURN_UNLESS((m_streamSpecs.present & Bits::srcRes) && (m_streamSpecs.present & Bits::tgtRes),
                      MF_E_ATTRIBUTENOTFOUND);
    KIV_RETURN_UNLESS(m_streamSpecs.tgtWidth <= m_streamSpecs.srcWidth, E_INVALIDARG);
    KIV_RETURN_UNLESS(m_streamSpecs.tgtHeight <= m_streamSpecs.srcHeight, E_INVALIDARG);
    HRESULT hr = openDecoder();
    if (SUCCEEDED(hr))
        hr = createTextures();
    if (FAILED(hr))
        teardown(); // nothing stays allocated after a failed start
    return hr;
}

HRESULT DecoderAmdBase::openDecoder() {
    const std::int64_t buffCount = PoolSize(m_streamSpecs.minOutputSamples);
    amf::AMFFactory* const factory = Amf.factory();
    KIV_ASSERT(factory);
    KIV_ASSERT(!m_context);
    amf::AMFInterfacePtr<amf::AMFContext> context;
    KIV_RETURN_IF_AMF_FAILED(factory->CreateContext(&context));
    KIV_RETURN_IF_AMF_FAILED(
        context->QueryInterface(amf::AMFContext1::IID(), reinterpret_cast<void**>(&m_context)));
    KIV_RETURN_IF_AMF_FAILED(m_context->InitVulkan(nullptr));
    KIV_ASSERT(!m_decoder);
    KIV_RETURN_IF_AMF_FAILED(
        factory->CreateComponent(m_context.GetPtr(), DecoderName(m_opts.codec), &m_decoder));
    const std::pair<const wchar_t*, amf::AMFVariantStruct> properties[] = {
        {L"TimestampMode", amd::Int64Variant(AMF_TS_DECODE)},
        {L"ReorderMode", amd::Int64Variant(AMF_VIDEO_DECODER_MODE_LOW_LATENCY)},
        {L"LowLatencyDecode", amd::BoolVariant(true)},
        {L"ColorRange", amd::Int64Variant(2 - m_opts.studioRange)},
        {L"SurfaceCopy", amd::BoolVariant(false)},
        {L"SurfaceCpu", amd::BoolVariant(false)},
        {L"SurfacePoolSize", amd::Int64Variant(buffCount)},
        {L"CurrentSize",
         amd::SizeVariant(std::int32_t(m_streamSpecs.srcWidth), std::int32_t(m_streamSpecs.srcHeight))},
        {L"EnableDecoderSmartAccessVideo", amd::BoolVariant(m_opts.smartAccess != 0)},
    };
    for (const auto& [name, value] : properties)
        KIV_RETURN_IF_AMF_FAILED(m_decoder->SetProperty(name, value));
    KIV_RETURN_IF_AMF_FAILED(m_decoder->Init(amf::AMF_SURFACE_NV12, std::int32_t(m_streamSpecs.tgtWidth),
                                             std::int32_t(m_streamSpecs.tgtHeight)));
    if (m_opts.propertyDump == 1) {
        dump(m_decoder.GetPtr(), L"AMF decoder properties");
        OutputDebugStringA(
            WideToUtf8(amd::PropertyInfoListing(m_decoder.GetPtr(), L"AMF decoder property info")).c_str());
    }
    return S_OK;
}

HRESULT DecoderAmdBase::createTextures() {
    device()->GetImmediateContext(&m_d3dDevCtx);
    return CreateDecodedPictureTextures(device(), m_streamSpecs.tgtWidth, m_streamSpecs.tgtHeight,
                                        D3D11_RESOURCE_MISC_SHARED | D3D11_RESOURCE_MISC_SHARED_NTHANDLE,
                                        m_d3dTexOut, m_staging);
}

HRESULT DecoderAmdBase::onInputArrived(IMFSample* sample) {
    KIV_ASSERT(Amf.isLoaded_());
    KIV_ASSERT(m_context && m_decoder);
    KIV_ASSERT(sample);
    m_ts[0] = __rdtsc();
    const UINT32 streamNum = MFGetAttributeUINT32(sample, KIV_GUID_STREAMNUM, NoNumber);
    const UINT32 frameNum = MFGetAttributeUINT32(sample, KIV_GUID_FRAMENUM, NoNumber);
    m_streamNum = std::int32_t(streamNum);
    m_frameNum = std::int32_t(frameNum);
    LONGLONG sampleTime = 0;
    LONGLONG duration = 0;
    DWORD bufferTotalSize = 0;
    KIV_RETURN_IF_FAILED(sample->GetSampleTime(&sampleTime));
    KIV_RETURN_IF_FAILED(sample->GetSampleDuration(&duration));
    KIV_RETURN_IF_FAILED(sample->GetTotalLength(&bufferTotalSize));
    amf::AMFInterfacePtr<amf::AMFBuffer> amfInput;
    KIV_RETURN_IF_AMF_FAILED(m_context->AllocBuffer(amf::AMF_MEMORY_HOST, bufferTotalSize, &amfInput));
    amfInput->SetPts(sampleTime);
    amfInput->SetDuration(duration);
    KIV_RETURN_IF_AMF_FAILED(amfInput->SetProperty(KIV_STR_STREAMNUM, amd::Int64Variant(streamNum)));
    KIV_RETURN_IF_AMF_FAILED(amfInput->SetProperty(KIV_STR_FRAMENUM, amd::Int64Variant(frameNum)));
    DWORD bufferCount = 0;
    KIV_RETURN_IF_FAILED(sample->GetBufferCount(&bufferCount));
    auto* const amfBytes = static_cast<BYTE*>(amfInput->GetNative());
    std::size_t amfBufferIdx = 0;
    for (DWORD i = 0; i < bufferCount; ++i) {
        ComPtr<IMFMediaBuffer> buffer;
        KIV_RETURN_IF_FAILED(sample->GetBufferByIndex(i, &buffer));
        BYTE* data = nullptr;
        DWORD length = 0;
        KIV_RETURN_IF_FAILED(buffer->Lock(&data, nullptr, &length));
        // A buffer that grew since the total was taken is not written past the AMF buffer.
        const bool fits = amfBufferIdx + length <= bufferTotalSize;
        if (fits)
            std::memcpy(amfBytes + amfBufferIdx, data, length);
        buffer->Unlock();
        KIV_RETURN_UNLESS(fits, E_UNEXPECTED);
        amfBufferIdx += length;
    }
    KIV_RETURN_UNLESS(amfBufferIdx == bufferTotalSize, E_UNEXPECTED);
    KIV_RETURN_UNLESS(amfInput->GetSize() == amfBufferIdx, E_UNEXPECTED);
    if (m_opts.propertyDump == 1)
        dump(amfInput.GetPtr(), L"AMF decode input properties");
    m_ts[1] = __rdtsc();
    KIV_RETURN_IF_AMF_FAILED(m_decoder->SubmitInput(amfInput.GetPtr()));
    m_ts[2] = __rdtsc();
    KIV_RETURN_IF_FAILED(signalHaveOutput());
    return S_OK;
}

HRESULT DecoderAmdBase::waitForPicture(amf::AMFInterfacePtr<amf::AMFData>& amfData) {
    const auto deadline = std::chrono::steady_clock::now() + OutputWait;
    AMF_RESULT waitRes = m_decoder->QueryOutput(&amfData);
    while ((waitRes == AMF_REPEAT || !amfData) && std::chrono::steady_clock::now() < deadline) {
        amfData.Release();
        SwitchToThread();
        waitRes = m_decoder->QueryOutput(&amfData);
    }
    KIV_RETURN_IF_FAILED(::kiv::amd::ToHresult(waitRes));
    // A decoder that keeps its picture (after an input it could not decode) does not hold the stream.
    KIV_RETURN_UNLESS(amfData && waitRes != AMF_REPEAT, HRESULT_FROM_WIN32(WAIT_TIMEOUT));
    return S_OK;
}

HRESULT DecoderAmdBase::copyPicture(amf::AMFData* amfData) {
    amf::AMFInterfacePtr<amf::AMFSurface> amfSurface;
    KIV_RETURN_IF_AMF_FAILED(
        amfData->QueryInterface(amf::AMFSurface::IID(), reinterpret_cast<void**>(&amfSurface)));
    // The picture is in the decoder's Vulkan memory; the host copy is what reaches the texture.
    KIV_RETURN_IF_AMF_FAILED(amfSurface->Convert(amf::AMF_MEMORY_HOST));
    KIV_RETURN_UNLESS(amfSurface->GetFormat() == amf::AMF_SURFACE_NV12 && amfSurface->GetPlanesCount() == 2,
                      MF_E_INVALIDMEDIATYPE);
    amf::AMFPlane* const planes[2] = {amfSurface->GetPlaneAt(0), amfSurface->GetPlaneAt(1)};
    const UINT width = m_streamSpecs.tgtWidth;
    const UINT height = m_streamSpecs.tgtHeight;
    // The top-left target-sized part of the picture: a picture smaller than the target is refused.
    KIV_RETURN_UNLESS(planes[0] && planes[1] && UINT(planes[0]->GetWidth()) >= width &&
                          UINT(planes[0]->GetHeight()) >= height &&
                          UINT(planes[1]->GetHeight()) >= height / 2,
                      MF_E_INVALIDMEDIATYPE);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    KIV_RETURN_IF_FAILED(m_d3dDevCtx->Map(m_staging.Get(), 0, D3D11_MAP_WRITE, 0, &mapped));
    auto* to = static_cast<BYTE*>(mapped.pData);
    HRESULT hr = S_OK;
    for (int index = 0; index < 2 && SUCCEEDED(hr); ++index) {
        const auto* from = static_cast<const BYTE*>(planes[index]->GetNative());
        if (from == nullptr) {
            hr = ReportFailedCondition(E_UNEXPECTED, "nullptr != planes[index]->GetNative()",
                                       __PRETTY_FUNCTION__, __LINE__);
            break;
        }
        const UINT rows = index == 0 ? height : height / 2;
        for (UINT y = 0; y < rows; ++y)
            std::memcpy(to + std::size_t(y) * mapped.RowPitch,
                        from + std::size_t(y) * planes[index]->GetHPitch(), width);
        to += std::size_t(rows) * mapped.RowPitch;
    }
    m_d3dDevCtx->Unmap(m_staging.Get(), 0);
    if (SUCCEEDED(hr))
        m_d3dDevCtx->CopyResource(m_d3dTexOut.Get(), m_staging.Get());
    return hr;
}

HRESULT DecoderAmdBase::onOutputRequested(MFT_OUTPUT_DATA_BUFFER& dataBuffer) {
    KIV_ASSERT(Amf.isLoaded_());
    KIV_ASSERT(m_decoder);
    m_ts[3] = __rdtsc();
    amf::AMFInterfacePtr<amf::AMFData> amfData;
    if (const HRESULT waited = waitForPicture(amfData); FAILED(waited)) {
        // The input is lost, not the stream: the next one is asked for.
        signalNeedInput();
        return waited;
    }
    m_ts[4] = __rdtsc();
    const LONGLONG outTimestamp = amfData->GetPts();
    const LONGLONG outDuration = amfData->GetDuration();
    std::int64_t streamNum = -1;
    std::int64_t frameNum = -1;
    KIV_RETURN_IF_AMF_FAILED(amd::GetPropertyInt64(amfData.GetPtr(), KIV_STR_STREAMNUM, &streamNum));
    KIV_RETURN_IF_AMF_FAILED(amd::GetPropertyInt64(amfData.GetPtr(), KIV_STR_FRAMENUM, &frameNum));
    if (m_opts.propertyDump == 1)
        dump(amfData.GetPtr(), L"AMF decode output properties");
    KIV_RETURN_IF_FAILED(copyPicture(amfData.GetPtr()));
    amfData.Release();
    KIV_RETURN_IF_FAILED(WrapDecodedPicture(m_d3dTexOut.Get(), outTimestamp, outDuration, streamNum, frameNum,
                                            &dataBuffer.pSample));
    m_ts[5] = __rdtsc();
    KIV_RETURN_IF_FAILED(signalNeedInput());
    if (m_opts.timing == 1) {
        char text[200];
        std::snprintf(
            text, sizeof(text),
            "[AMFdec] Frame done (%ux%u, stream:%d, frame:%d)): all=%8.1fus (init=%4.0f + submit=%4.0f + "
            "async=%4.0f + spin=%4.0f + fin=%4.0f)\n",
            m_streamSpecs.srcWidth, m_streamSpecs.srcHeight, m_streamNum, m_frameNum,
            TscTicksToMicroseconds(m_ts[5] - m_ts[0]), TscTicksToMicroseconds(m_ts[1] - m_ts[0]),
            TscTicksToMicroseconds(m_ts[2] - m_ts[1]), TscTicksToMicroseconds(m_ts[3] - m_ts[2]),
            TscTicksToMicroseconds(m_ts[4] - m_ts[3]), TscTicksToMicroseconds(m_ts[5] - m_ts[4]));
        OutputDebugStringA(text);
    }
    return S_OK;
}

HRESULT DecoderAmdBase::onSpecsChanged(bool, bool) {
    KIV_ASSERT(Amf.isLoaded_());
    return S_OK;
}

HRESULT DecoderAmdBase::onDeviceRefClearing() {
    teardown();
    return S_OK;
}

void DecoderAmdBase::dump(const amf::AMFPropertyStorage* storage, const wchar_t* title) const {
    OutputDebugStringA(WideToUtf8(amd::PropertyListing(storage, title)).c_str());
}

void DecoderAmdBase::teardown() {
    m_staging = nullptr;
    m_d3dTexOut = nullptr;
    m_d3dDevCtx = nullptr;
    if (m_decoder) {
        m_decoder->Terminate();
        m_decoder.Release();
    }
    if (m_context) {
        m_context->Terminate();
        m_context.Release();
    }
}

} // namespace kiv::mfcodec
