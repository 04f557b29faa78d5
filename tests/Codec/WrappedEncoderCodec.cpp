#include "WrappedEncoderCodec.h"

#include "Codec/CodecReport.h"
#include "Codec/Exception.h"
#include "Codec/SampleAttributes.h"
#include <codecapi.h>
#include <combaseapi.h>
#include <mferror.h>

#include <cwchar>

namespace {

// The platform's first synchronous H.264 encoder.
ComPtr<IMFTransform> PlatformEncoder() {
    const MFT_REGISTER_TYPE_INFO output{MFMediaType_Video, MFVideoFormat_H264};
    IMFActivate** activates = nullptr;
    UINT32 count = 0;
    KIV_THROW_IF_FAILED(
        MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, MFT_ENUM_FLAG_SYNCMFT, nullptr, &output, &activates, &count));
    if (count == 0)
        CoTaskMemFree(activates);
    KIV_THROW_UNLESS(count > 0);
    ComPtr<IMFTransform> encoder;
    const HRESULT hr = activates[0]->ActivateObject(IID_PPV_ARGS(&encoder));
    for (UINT32 i = 0; i < count; ++i)
        activates[i]->Release();
    CoTaskMemFree(activates);
    KIV_THROW_IF_FAILED(hr);
    return encoder;
}

void CopyNumber(IMFSample* from, IMFSample* to, REFGUID key) {
    const UINT32 value = MFGetAttributeUINT32(from, key, 0xFFFFFFFF);
    if (value != 0xFFFFFFFF)
        to->SetUINT32(key, value);
}

} // namespace

const kiv::mfcodec::RegistrationInfo& WrappedEncoderCodec::Registration() {
    static const kiv::mfcodec::RegistrationInfo info = [] {
        kiv::mfcodec::RegistrationInfo r{};
        std::wcsncpy(r.friendlyName, L"Test H.264 Encoder over the platform",
                     kiv::mfcodec::RegistrationInfo::MaxNameLength);
        r.isHardware = 1;
        r.reportVendorId = 0xD4E1;
        r.clsid = {0x5eed0017, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 9}};
        r.category = MFT_CATEGORY_VIDEO_ENCODER;
        r.inputCount = 1;
        r.inputTypes[0] = {MFMediaType_Video, MFVideoFormat_NV12};
        r.outputCount = 2;
        r.outputTypes[0] = {MFMediaType_Video, MFVideoFormat_H264};
        r.outputTypes[1] = {MFMediaType_Video, MFVideoFormat_H264_ES};
        r.create = &WrappedEncoderCodec::Create;
        return r;
    }();
    return info;
}

void WrappedEncoderCodec::Create(ComPtr<kiv::mfcodec::Base>& object, const EncoderQuery&) {
    object = new WrappedEncoderCodec(Registration());
}

WrappedEncoderCodec::WrappedEncoderCodec(const kiv::mfcodec::RegistrationInfo& info)
    : Base(info), m_encoder(PlatformEncoder()) {
    // The settings a vendor class chooses for itself: a key frame every two seconds, nothing held back.
    ComPtr<ICodecAPI> api;
    KIV_THROW_IF_FAILED(m_encoder.As(&api));
    VARIANT value{};
    value.vt = VT_UI4;
    value.ulVal = Gop;
    KIV_THROW_IF_FAILED(api->SetValue(&CODECAPI_AVEncMPVGOPSize, &value));
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    KIV_THROW_IF_FAILED(api->SetValue(&CODECAPI_AVLowLatencyMode, &value));
}

HRESULT WrappedEncoderCodec::onSpecsChanged(bool inputChanged, bool outputChanged) {
    // A test-only call leaves the current type as it was; handing that on again changes nothing.
    ComPtr<IMFMediaType> type;
    if (outputChanged && SUCCEEDED(GetOutputCurrentType(0, &type)))
        KIV_RETURN_IF_FAILED(m_encoder->SetOutputType(0, type.Get(), 0));
    if (inputChanged && SUCCEEDED(GetInputCurrentType(0, &type)))
        KIV_RETURN_IF_FAILED(m_encoder->SetInputType(0, type.Get(), 0));
    return S_OK;
}

HRESULT WrappedEncoderCodec::onBeginStreaming() {
    KIV_RETURN_IF_FAILED(m_encoder->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0));
    KIV_RETURN_IF_FAILED(m_encoder->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0));
    return S_OK;
}

HRESULT WrappedEncoderCodec::onInputArrived(IMFSample* sample) {
    KIV_RETURN_IF_FAILED(m_encoder->ProcessInput(0, sample, 0));
    std::size_t produced = 0;
    KIV_RETURN_IF_FAILED(PullPackets(sample, produced));
    // An input that gives nothing yet: the next one is due now.
    if (produced == 0)
        KIV_RETURN_IF_FAILED(signalNeedInput());
    for (std::size_t i = 0; i < produced; ++i)
        KIV_RETURN_IF_FAILED(signalHaveOutput());
    return S_OK;
}

HRESULT WrappedEncoderCodec::PullPackets(IMFSample* input, std::size_t& produced) {
    MFT_OUTPUT_STREAM_INFO info{};
    KIV_RETURN_IF_FAILED(m_encoder->GetOutputStreamInfo(0, &info));
    const bool provides =
        (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES | MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) != 0;
    for (;;) {
        ComPtr<IMFSample> packet;
        if (!provides) {
            ComPtr<IMFMediaBuffer> buffer;
            KIV_RETURN_IF_FAILED(MFCreateSample(&packet));
            KIV_RETURN_IF_FAILED(MFCreateMemoryBuffer(info.cbSize, &buffer));
            KIV_RETURN_IF_FAILED(packet->AddBuffer(buffer.Get()));
        }
        MFT_OUTPUT_DATA_BUFFER out{0, packet.Get(), 0, nullptr};
        DWORD status = 0;
        const HRESULT hr = m_encoder->ProcessOutput(0, 1, &out, &status);
        if (out.pEvents != nullptr)
            out.pEvents->Release();
        if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT)
            return S_OK;
        KIV_RETURN_IF_FAILED(hr);
        if (provides)
            packet.Attach(out.pSample);
        CopyNumber(input, packet.Get(), KIV_GUID_FRAMENUM);
        CopyNumber(input, packet.Get(), KIV_GUID_STREAMNUM);
        std::lock_guard lock(m_mutex);
        m_ready.push_back(std::move(packet));
        ++produced;
    }
}

HRESULT WrappedEncoderCodec::onOutputRequested(MFT_OUTPUT_DATA_BUFFER& out) {
    bool drained = false;
    {
        std::lock_guard lock(m_mutex);
        KIV_RETURN_UNLESS(!m_ready.empty(), E_UNEXPECTED);
        out.pSample = m_ready.front().Detach();
        m_ready.pop_front();
        drained = m_ready.empty();
    }
    if (drained)
        KIV_RETURN_IF_FAILED(signalNeedInput());
    return S_OK;
}
