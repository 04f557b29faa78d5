#include "AmdEncoderSession.h"

#include "CodecReport.h"
#include "EncodedPacket.h"
#include "SampleAttributes.h"
#include "Util/Logger.h"
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <processthreadsapi.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace kiv::mfcodec {

namespace {

constexpr std::int64_t QueryTimeoutMs = 3;
constexpr auto InputWait = std::chrono::seconds(1);
constexpr std::int64_t PictureTypeIdr = 2;
constexpr std::int64_t OutputDataTypeIdr = 0;

DXGI_FORMAT TextureFormat(amf::AMF_SURFACE_FORMAT format) {
    return format == amf::AMF_SURFACE_NV12 ? DXGI_FORMAT_NV12 : DXGI_FORMAT_B8G8R8A8_UNORM;
}

// Rows of plane `index` in a texture of `height` rows.
UINT TextureRows(amf::AMF_SURFACE_FORMAT format, std::size_t index, UINT height) {
    return format == amf::AMF_SURFACE_NV12 && index == 1 ? height / 2 : height;
}

} // namespace

std::int64_t AmdEncoderSession::PeakBitrate(std::uint32_t average) {
    return static_cast<std::int64_t>(average * kPeakToAvgBitrateRatio);
}

amf::AMF_SURFACE_FORMAT AmdEncoderSession::SurfaceFormat(const GUID& subtype) {
    // The encoders declare these two inputs only (their registration), and they are what a host surface is
    // filled from.
    if (subtype == MFVideoFormat_NV12)
        return amf::AMF_SURFACE_NV12;
    if (subtype == MFVideoFormat_ARGB32)
        return amf::AMF_SURFACE_BGRA;
    return amf::AMF_SURFACE_UNKNOWN;
}

bool AmdEncoderSession::ComponentAvailable(amf::AMFFactory* factory, const wchar_t* component) {
    KIV_ASSERT(factory);
    amf::AMFInterfacePtr<amf::AMFContext> created;
    amf::AMFInterfacePtr<amf::AMFContext1> context;
    if (factory->CreateContext(&created) != AMF_OK ||
        created->QueryInterface(amf::AMFContext1::IID(), reinterpret_cast<void**>(&context)) != AMF_OK)
        return false;
    amf::AMFInterfacePtr<amf::AMFComponent> encoder;
    const bool made = context->InitVulkan(nullptr) == AMF_OK &&
                      factory->CreateComponent(context.GetPtr(), component, &encoder) == AMF_OK;
    if (encoder)
        encoder->Terminate();
    context->Terminate();
    return made;
}

AmdEncoderSession::~AmdEncoderSession() { close(); }

HRESULT AmdEncoderSession::open(amf::AMFFactory* factory, ID3D11Device* device, const StreamSpecs& specs,
                                const std::vector<Property>& properties, const wchar_t* threadName,
                                std::function<void()> outputReady) {
    KIV_ASSERT(nullptr != device);
    using Bits = StreamSpecs::Bits;
    KIV_RETURN_UNLESS((specs.present & Bits::srcRes) && (specs.present & Bits::srcFps) &&
                          (specs.present & Bits::tgtBps) && (specs.present & Bits::srcTyp),
                      MF_E_ATTRIBUTENOTFOUND);
    const amf::AMF_SURFACE_FORMAT format = SurfaceFormat(specs.srcSubtype);
    KIV_RETURN_UNLESS(format != amf::AMF_SURFACE_UNKNOWN, MF_E_INVALID_FORMAT);
    KIV_ASSERT(factory);
    KIV_ASSERT(!m_context);
    m_device = device;
    m_format = format;
    m_width = specs.srcWidth;
    m_height = specs.srcHeight;
    amf::AMFInterfacePtr<amf::AMFContext> context;
    KIV_RETURN_IF_AMF_FAILED(factory->CreateContext(&context));
    KIV_ASSERT(context);
    KIV_RETURN_IF_AMF_FAILED(
        context->QueryInterface(amf::AMFContext1::IID(), reinterpret_cast<void**>(&m_context)));
    KIV_RETURN_IF_AMF_FAILED(m_context->InitVulkan(nullptr));
    KIV_ASSERT(!m_encoder);
    KIV_RETURN_IF_AMF_FAILED(factory->CreateComponent(m_context.GetPtr(), m_names.component, &m_encoder));
    KIV_ASSERT(m_encoder);
    for (const auto& [name, value] : properties)
        KIV_RETURN_IF_FAILED(setProperty(name, value));
    KIV_RETURN_IF_AMF_FAILED(m_encoder->Init(format, std::int32_t(m_width), std::int32_t(m_height)));
    m_outputReady = std::move(outputReady);
    m_stop.exchange(false);
    m_worker = std::thread(&AmdEncoderSession::worker, this, std::wstring(threadName));
    return S_OK;
}

HRESULT AmdEncoderSession::setProperty(const wchar_t* name, const amf::AMFVariantStruct& value) {
    KIV_ASSERT(m_encoder);
    if (const HRESULT hr = amd::ToHresult(m_encoder->SetProperty(name, value)); FAILED(hr)) {
        const std::wstring wide(name);
        const std::string call =
            "m_encoder->SetProperty( L\"" + std::string(wide.begin(), wide.end()) + "\", value )";
        return ReportFailedCall(hr, call.c_str(), __PRETTY_FUNCTION__, __LINE__);
    }
    return S_OK;
}

HRESULT AmdEncoderSession::reconfigure(const StreamSpecs& specs) {
    using Bits = StreamSpecs::Bits;
    if ((specs.changed & Bits::srcFps) && (specs.present & Bits::srcFps))
        KIV_RETURN_IF_FAILED(
            setProperty(m_names.frameRate, amd::RateVariant(specs.srcFpsNum, specs.srcFpsDen)));
    if ((specs.changed & Bits::tgtBps) && (specs.present & Bits::tgtBps)) {
        if (m_names.peakBitrate != nullptr)
            KIV_RETURN_IF_FAILED(
                setProperty(m_names.peakBitrate, amd::Int64Variant(PeakBitrate(specs.tgtBpsAvg))));
        KIV_RETURN_IF_FAILED(setProperty(m_names.targetBitrate, amd::Int64Variant(specs.tgtBpsAvg)));
    }
    if (specs.changed & (Bits::srcRes | Bits::tgtRes))
        LogWarn("Custom AMF-based encoder doesn't support dynamic resolution change (yet)");
    return S_OK;
}

void AmdEncoderSession::worker(std::wstring threadName) {
    SetThreadDescription(GetCurrentThread(), threadName.c_str());
    m_encoder->SetProperty(m_names.queryTimeout, amd::Int64Variant(QueryTimeoutMs));
    while (!m_stop.load()) {
        amf::AMFInterfacePtr<amf::AMFData> data;
        AMF_RESULT result = m_encoder->QueryOutput(&data);
        while (result == AMF_REPEAT && !m_stop.load()) {
            SwitchToThread();
            result = m_encoder->QueryOutput(&data);
        }
        if (result != AMF_OK || !data)
            continue;
        {
            std::lock_guard lock(m_outputMutex);
            KIV_ASSERT(nullptr == m_output.GetPtr());
            m_output = data;
        }
        m_outputReady();
    }
}

HRESULT AmdEncoderSession::upload(ID3D11Texture2D* texture, UINT subresource,
                                  amf::AMFInterfacePtr<amf::AMFSurface>& surface) {
    D3D11_TEXTURE2D_DESC desc{};
    texture->GetDesc(&desc);
    KIV_RETURN_UNLESS(desc.Width == m_width && desc.Height == m_height &&
                          desc.Format == TextureFormat(m_format),
                      MF_E_INVALIDMEDIATYPE);
    KIV_RETURN_IF_AMF_FAILED(m_context->AllocSurface(amf::AMF_MEMORY_HOST, m_format, std::int32_t(m_width),
                                                     std::int32_t(m_height), &surface));
    D3D11_MAPPED_SUBRESOURCE mapped{};
    KIV_RETURN_IF_FAILED(m_readback.map(m_device.Get(), texture, subresource, mapped));
    const auto* from = static_cast<const BYTE*>(mapped.pData);
    HRESULT hr = S_OK;
    for (std::size_t index = 0; index < surface->GetPlanesCount() && SUCCEEDED(hr); ++index) {
        amf::AMFPlane* plane = surface->GetPlaneAt(index);
        auto* to = plane != nullptr ? static_cast<BYTE*>(plane->GetNative()) : nullptr;
        if (to == nullptr) {
            hr = ReportFailedCondition(E_UNEXPECTED, "nullptr != plane->GetNative()", __PRETTY_FUNCTION__,
                                       __LINE__);
            break;
        }
        // The surface's planes may be padded; the texture's rows bound what is copied.
        const UINT rows = TextureRows(m_format, index, m_height);
        const std::size_t rowBytes = std::min<std::size_t>(
            std::size_t(plane->GetWidth()) * plane->GetPixelSizeInBytes(), mapped.RowPitch);
        for (UINT y = 0; y < std::min<UINT>(rows, UINT(plane->GetHeight())); ++y)
            std::memcpy(to + std::size_t(y) * plane->GetHPitch(), from + std::size_t(y) * mapped.RowPitch,
                        rowBytes);
        from += std::size_t(rows) * mapped.RowPitch;
    }
    m_readback.unmap();
    return hr;
}

HRESULT AmdEncoderSession::submit(IMFSample* sample, bool forceKeyFrame) {
    KIV_ASSERT(m_context && m_encoder);
    KIV_ASSERT(sample);
    UINT32 number = 0;
    const std::int64_t streamNum = SUCCEEDED(sample->GetUINT32(KIV_GUID_STREAMNUM, &number)) ? number : -1;
    const std::int64_t frameNum = SUCCEEDED(sample->GetUINT32(KIV_GUID_FRAMENUM, &number)) ? number : -1;
    LONGLONG sampleTime = 0;
    LONGLONG duration = 0;
    KIV_RETURN_IF_FAILED(sample->GetSampleTime(&sampleTime));
    KIV_RETURN_IF_FAILED(sample->GetSampleDuration(&duration));
    amf::AMFInterfacePtr<amf::AMFSurface> surface;
    {
        ComPtr<IMFMediaBuffer> buffer;
        KIV_RETURN_IF_FAILED(sample->GetBufferByIndex(0, &buffer));
        ComPtr<IMFDXGIBuffer> dxgiBuffer;
        KIV_RETURN_IF_FAILED(buffer.As(&dxgiBuffer));
        UINT subresource = 0;
        KIV_RETURN_IF_FAILED(dxgiBuffer->GetSubresourceIndex(&subresource));
        ComPtr<ID3D11Texture2D> texture;
        KIV_RETURN_IF_FAILED(dxgiBuffer->GetResource(IID_PPV_ARGS(&texture)));
        KIV_RETURN_IF_FAILED(upload(texture.Get(), subresource, surface));
    }
    surface->SetPts(sampleTime);
    surface->SetDuration(duration);
    surface->SetFrameType(amf::AMF_FRAME_PROGRESSIVE);
    if (forceKeyFrame)
        KIV_RETURN_IF_AMF_FAILED(
            surface->SetProperty(m_names.forcePictureType, amd::Int64Variant(PictureTypeIdr)));
    KIV_RETURN_IF_AMF_FAILED(surface->SetProperty(KIV_STR_STREAMNUM, amd::Int64Variant(streamNum)));
    KIV_RETURN_IF_AMF_FAILED(surface->SetProperty(KIV_STR_FRAMENUM, amd::Int64Variant(frameNum)));
    // An encoder whose queue is full takes the frame once the worker has collected an output; until it has,
    // the frame is not reported as taken.
    const auto deadline = std::chrono::steady_clock::now() + InputWait;
    AMF_RESULT submitted = m_encoder->SubmitInput(surface.GetPtr());
    while (submitted == AMF_INPUT_FULL && std::chrono::steady_clock::now() < deadline) {
        SwitchToThread();
        submitted = m_encoder->SubmitInput(surface.GetPtr());
    }
    KIV_RETURN_UNLESS(submitted != AMF_INPUT_FULL, MF_E_NOTACCEPTING);
    KIV_RETURN_IF_AMF_FAILED(submitted);
    return S_OK;
}

HRESULT AmdEncoderSession::takeOutput(MFT_OUTPUT_DATA_BUFFER& dataBuffer) {
    std::unique_lock lock(m_outputMutex);
    KIV_RETURN_UNLESS(m_output, MF_E_TRANSFORM_NEED_MORE_INPUT);
    amf::AMFInterfacePtr<amf::AMFData> amfData = m_output;
    m_output.Release();
    lock.unlock();
    const HRESULT hr = copyOutput(amfData.GetPtr(), dataBuffer);
    if (FAILED(hr) && dataBuffer.pSample != nullptr) {
        dataBuffer.pSample->Release();
        dataBuffer.pSample = nullptr;
    }
    return hr;
}

HRESULT AmdEncoderSession::copyOutput(amf::AMFData* amfData, MFT_OUTPUT_DATA_BUFFER& dataBuffer) {
    KIV_ASSERT(amfData->GetDataType() == amf::AMF_DATA_BUFFER);
    KIV_ASSERT(amfData->GetMemoryType() == amf::AMF_MEMORY_HOST);
    amf::AMFInterfacePtr<amf::AMFBuffer> amfBuffer;
    KIV_RETURN_IF_AMF_FAILED(
        amfData->QueryInterface(amf::AMFBuffer::IID(), reinterpret_cast<void**>(&amfBuffer)));
    KIV_ASSERT(nullptr != amfBuffer.GetPtr());
    const void* bitstreamPtr = amfBuffer->GetNative();
    const std::size_t bitstreamSize = amfBuffer->GetSize();
    KIV_ASSERT(nullptr != bitstreamPtr);
    KIV_ASSERT(0 < bitstreamSize && bitstreamSize <= UINT32_MAX);
    const LONGLONG bitstreamTimestamp = amfBuffer->GetPts();
    const LONGLONG bitstreamDuration = amfBuffer->GetDuration();
    std::int64_t bitstreamDataType = 0;
    std::int64_t bufferType = 0;
    std::int64_t streamNum = -1;
    std::int64_t frameNum = -1;
    KIV_RETURN_IF_AMF_FAILED(
        amd::GetPropertyInt64(amfBuffer.GetPtr(), m_names.outputDataType, &bitstreamDataType));
    KIV_RETURN_IF_AMF_FAILED(
        amd::GetPropertyInt64(amfBuffer.GetPtr(), m_names.outputBufferType, &bufferType));
    KIV_RETURN_IF_AMF_FAILED(amd::GetPropertyInt64(amfBuffer.GetPtr(), KIV_STR_STREAMNUM, &streamNum));
    KIV_RETURN_IF_AMF_FAILED(amd::GetPropertyInt64(amfBuffer.GetPtr(), KIV_STR_FRAMENUM, &frameNum));

    return WrapEncodedPacket(bitstreamPtr, DWORD(bitstreamSize), bitstreamTimestamp, bitstreamDuration,
                             bitstreamDataType == OutputDataTypeIdr, streamNum, frameNum,
                             &dataBuffer.pSample);
}

void AmdEncoderSession::close() {
    m_stop.exchange(true);
    if (m_worker.joinable()) {
        if (m_worker.get_id() == std::this_thread::get_id()) {
            LogError("Couldn't join worker thread in %s: resource deadlock",
                     "kiv::mfcodec::AmdEncoderSession::close");
            m_worker.detach();
        } else {
            m_worker.join();
        }
    }
    m_worker = std::thread();
    m_stop.exchange(false);
    if (m_encoder) {
        m_encoder->Terminate();
        m_encoder.Release();
    }
    if (m_context) {
        m_context->Terminate();
        m_context.Release();
    }
    {
        std::lock_guard lock(m_outputMutex);
        m_output.Release();
    }
    m_readback.reset();
    m_device = nullptr;
}

} // namespace kiv::mfcodec
