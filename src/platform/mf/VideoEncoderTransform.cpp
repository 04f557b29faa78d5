#include "VideoEncoderTransform.h"

#include "CodecResult.h"
#include "EncodedOutput.h"
#include "SampleData.h"
#include <mfapi.h>

namespace {

constexpr UINT32 MainProfile = eAVEncH265VProfile_Main_420_8;

// A picture the encoder reads in place, kept locked until the encoder lets go of it.
struct HeldPicture {
    ComPtr<IMFSample> sample;
    PictureLock lock;
};

} // namespace

HRESULT VideoEncoderTransform::Create(av::Codec codec, IMFTransform** transform, const std::string& device) {
    if (transform == nullptr)
        return E_POINTER;
    *transform = nullptr;
    if (codec != av::Codec::H264 && codec != av::Codec::Hevc)
        return E_INVALIDARG;
    ComPtr<VideoEncoderTransform> created = MakeComObject<VideoEncoderTransform>(codec, device);
    if (!created)
        return E_OUTOFMEMORY;
    const HRESULT hr = created->Initialize();
    if (SUCCEEDED(hr))
        *transform = created.Detach();
    return hr;
}

const GUID& VideoEncoderTransform::Subtype() const {
    return m_codec == av::Codec::H264 ? MFVideoFormat_H264 : MFVideoFormat_HEVC;
}

// ICodecAPI

HRESULT VideoEncoderTransform::IsSupported(const GUID* api) {
    if (api == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    return m_properties.Supports(*api) ? S_OK : NotImplemented();
}

HRESULT VideoEncoderTransform::IsModifiable(const GUID* api) {
    if (api == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    if (!m_properties.Supports(*api))
        return NotImplemented();
    return m_properties.Modifiable(*api, m_streaming) ? S_OK : S_FALSE;
}

HRESULT VideoEncoderTransform::GetDefaultValue(const GUID* api, VARIANT* value) {
    if (api == nullptr || value == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    return m_properties.GetDefault(*api, *value);
}

HRESULT VideoEncoderTransform::GetValue(const GUID* api, VARIANT* value) {
    if (api == nullptr || value == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    return m_properties.Get(*api, *value);
}

HRESULT VideoEncoderTransform::SetValue(const GUID* api, VARIANT* value) {
    if (api == nullptr || value == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    const HRESULT hr = m_properties.Set(*api, *value, m_streaming);
    // An encoder opened for its parameter sets only is opened again with the new settings.
    if (SUCCEEDED(hr) && !m_streaming && *api != CODECAPI_AVEncVideoForceKeyFrame)
        m_encoder.reset();
    return hr;
}

HRESULT VideoEncoderTransform::SetAllDefaults() {
    std::lock_guard lock(m_mutex);
    if (m_streaming)
        return MF_E_INVALIDREQUEST;
    m_properties.SetDefaults();
    m_encoder.reset();
    return S_OK;
}

// Types

void VideoEncoderTransform::DescribeInput(MFT_INPUT_STREAM_INFO& info) {
    info.dwFlags = MFT_INPUT_STREAM_WHOLE_SAMPLES | MFT_INPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER |
                   MFT_INPUT_STREAM_FIXED_SAMPLE_SIZE;
    if (m_inputType)
        info.cbSize = static_cast<DWORD>(m_in.Size(static_cast<LONG>(m_in.RowBytes())));
}

void VideoEncoderTransform::DescribeOutput(MFT_OUTPUT_STREAM_INFO& info) {
    info.dwFlags = MFT_OUTPUT_STREAM_WHOLE_SAMPLES | MFT_OUTPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER |
                   MFT_OUTPUT_STREAM_PROVIDES_SAMPLES;
}

HRESULT VideoEncoderTransform::InputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) {
    if (!m_outputType)
        return MF_E_TRANSFORM_TYPE_NOT_SET;
    if (index > 0)
        return MF_E_NO_MORE_TYPES;
    HRESULT hr = MakePartialType(MFMediaType_Video, MFVideoFormat_NV12, type);
    for (const GUID* key : {&MF_MT_FRAME_SIZE, &MF_MT_FRAME_RATE, &MF_MT_PIXEL_ASPECT_RATIO})
        if (SUCCEEDED(hr))
            hr = CopyTypeItem(m_outputType.Get(), type.Get(), *key);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    return hr;
}

HRESULT VideoEncoderTransform::OutputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) {
    if (index > 0)
        return MF_E_NO_MORE_TYPES;
    return MakePartialType(MFMediaType_Video, Subtype(), type);
}

HRESULT VideoEncoderTransform::CheckOutputType(IMFMediaType* type) {
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    UINT32 width = 0, height = 0, numerator = 0, denominator = 0;
    if (FAILED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) || major != MFMediaType_Video ||
        FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) || subtype != Subtype() ||
        FAILED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height)) ||
        FAILED(MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &numerator, &denominator)))
        return MF_E_INVALIDMEDIATYPE;
    constexpr UINT32 MaxSide = 8192;
    if (width == 0 || height == 0 || width % 2 != 0 || height % 2 != 0 || width > MaxSide ||
        height > MaxSide || numerator == 0 || denominator == 0 || !IsProgressive(type))
        return MF_E_INVALIDMEDIATYPE;
    UINT32 profile = 0;
    if (SUCCEEDED(type->GetUINT32(MF_MT_MPEG2_PROFILE, &profile))) {
        const bool known = m_codec == av::Codec::H264
                               ? profile == eAVEncH264VProfile_Base || profile == eAVEncH264VProfile_Main ||
                                     profile == eAVEncH264VProfile_High
                               : profile == MainProfile;
        if (!known)
            return MF_E_INVALIDMEDIATYPE;
    }
    return S_OK;
}

HRESULT VideoEncoderTransform::CheckInputType(IMFMediaType* type) {
    if (!m_outputType)
        return MF_E_TRANSFORM_TYPE_NOT_SET;
    PictureFormat format;
    HRESULT hr = PictureFormat::FromType(type, format);
    if (FAILED(hr))
        return hr;
    UINT32 width = 0, height = 0;
    (void)MFGetAttributeSize(m_outputType.Get(), MF_MT_FRAME_SIZE, &width, &height);
    const UINT32 matrix = MFGetAttributeUINT32(type, MF_MT_YUV_MATRIX, MFVideoTransferMatrix_Unknown);
    if (format.subtype != MFVideoFormat_NV12 || format.width != width || format.height != height ||
        !SameFrameRate(type, m_outputType.Get()) || !IsProgressive(type) ||
        (matrix != MFVideoTransferMatrix_Unknown && matrix != MFVideoTransferMatrix_BT601 &&
         matrix != MFVideoTransferMatrix_BT709))
        return MF_E_INVALIDMEDIATYPE;
    return S_OK;
}

void VideoEncoderTransform::TypesChanged() {
    Reset();
    // An input type set for an earlier output type may no longer fit it.
    if (m_inputType && (!m_outputType || FAILED(CheckInputType(m_inputType.Get()))))
        m_inputType = nullptr;
    m_in = {};
    // The input type passed its check when it was set, so reading it again cannot fail.
    if (m_inputType)
        (void)PictureFormat::FromType(m_inputType.Get(), m_in);
}

void VideoEncoderTransform::Reset() {
    m_encoder.reset();
    m_streaming = false;
    m_draining = false;
    m_nextPts = 0;
    m_pending.clear();
    m_output.clear();
}

av::VideoEncoderSettings VideoEncoderTransform::Settings() {
    av::VideoEncoderSettings settings;
    settings.codec = m_codec;
    IMFMediaType* output = m_outputType.Get();
    (void)MFGetAttributeSize(output, MF_MT_FRAME_SIZE, &settings.width, &settings.height);
    (void)MFGetAttributeRatio(output, MF_MT_FRAME_RATE, &settings.frameRateNumerator,
                              &settings.frameRateDenominator);
    settings.bitRate = MFGetAttributeUINT32(output, MF_MT_AVG_BITRATE, 0);
    settings.h264Profile = MFGetAttributeUINT32(output, MF_MT_MPEG2_PROFILE, eAVEncH264VProfile_High);
    settings.gopSize = m_properties.GopSize();
    settings.lowLatency =
        m_properties.LowLatency(MFGetAttributeUINT32(m_attributes.Get(), MF_LOW_LATENCY, 0) != 0);
    settings.cabac = m_properties.Cabac();
    settings.sliceRows = m_properties.SliceRows();
    IMFMediaType* input = m_inputType.Get();
    settings.bt709 = MFGetAttributeUINT32(input, MF_MT_YUV_MATRIX, 0) == MFVideoTransferMatrix_BT709;
    settings.fullRange = MFGetAttributeUINT32(input, MF_MT_VIDEO_NOMINAL_RANGE, 0) == MFNominalRange_0_255;
    settings.device = m_device;
    return settings;
}

HRESULT VideoEncoderTransform::Open() {
    if (m_encoder)
        return S_OK;
    return HResultFromCodecStatus(av::VideoEncoder::Open(Settings(), m_encoder));
}

HRESULT VideoEncoderTransform::PublishedOutputType(ComPtr<IMFMediaType>& type) {
    // The parameter sets are known once both types are.
    if (!m_inputType) {
        type = m_outputType;
        return S_OK;
    }
    HRESULT hr = Open();
    if (SUCCEEDED(hr))
        hr = CopyMediaType(m_outputType.Get(), type);
    if (FAILED(hr))
        return hr;
    const std::vector<std::uint8_t>& sets = m_encoder->ParameterSets();
    return type->SetBlob(MF_MT_MPEG_SEQUENCE_HEADER, sets.data(), static_cast<UINT32>(sets.size()));
}

HRESULT VideoEncoderTransform::BeginStreaming() { return m_inputType && m_outputType ? Open() : S_OK; }

// Streaming

HRESULT VideoEncoderTransform::Remember(IMFSample* sample, std::int64_t pts) {
    PendingFrame frame;
    frame.pts = pts;
    HRESULT hr = MFCreateAttributes(&frame.attributes, 4);
    if (SUCCEEDED(hr))
        hr = sample->CopyAllItems(frame.attributes.Get());
    if (FAILED(hr))
        return hr;
    frame.hasTime = SUCCEEDED(sample->GetSampleTime(&frame.time));
    if (FAILED(sample->GetSampleDuration(&frame.duration)))
        frame.duration = -1;
    m_pending.push_back(std::move(frame));
    return S_OK;
}

HRESULT VideoEncoderTransform::TakeInput(IMFSample* sample) {
    HRESULT hr = Open();
    if (FAILED(hr))
        return hr;
    auto held = std::make_shared<HeldPicture>();
    held->sample = sample;
    hr = held->lock.Lock(sample, m_in, false);
    if (FAILED(hr))
        return hr;
    const std::int64_t pts = m_nextPts;
    hr = Remember(sample, pts);
    if (FAILED(hr))
        return hr;
    const int pitch = static_cast<int>(held->lock.Pitch());
    const yuv::Nv12View picture{held->lock.Data(),
                                pitch,
                                held->lock.Chroma(),
                                pitch,
                                static_cast<int>(m_in.width),
                                static_cast<int>(m_in.height)};
    // The first picture of a stream is a key frame anyway; a request made before it is used up by it. A
    // picture marked as IDR is one, without waiting for the pictures already on their way.
    const bool marked = MFGetAttributeUINT32(sample, MFSampleExtension_VideoEncodePictureType,
                                             eAVEncH264PictureType_P) == eAVEncH264PictureType_IDR;
    const bool keyFrame = m_properties.TakeKeyFrameRequest() || marked;
    hr = HResultFromCodecStatus(m_encoder->Encode(picture, pts, keyFrame, held));
    if (FAILED(hr)) {
        m_pending.pop_back();
        return hr;
    }
    ++m_nextPts;
    m_streaming = true;
    return Collect();
}

HRESULT VideoEncoderTransform::MakeAccessUnit(const av::EncodedPacketView& packet,
                                              ComPtr<IMFSample>& sample) {
    // Packets come out in input order; frames the encoder dropped have no packet.
    while (!m_pending.empty() && m_pending.front().pts < packet.pts)
        m_pending.pop_front();
    if (m_pending.empty() || m_pending.front().pts != packet.pts)
        return E_UNEXPECTED;
    const PendingFrame frame = std::move(m_pending.front());
    m_pending.pop_front();
    HRESULT hr = CreateSampleWithData(packet.data, packet.size, sample);
    if (SUCCEEDED(hr))
        hr = frame.attributes->CopyAllItems(sample.Get());
    if (SUCCEEDED(hr) && frame.hasTime)
        hr = SetSampleTiming(sample.Get(), frame.time, frame.duration);
    // Raw pictures are all clean points; only key frames are once encoded.
    if (SUCCEEDED(hr))
        hr = packet.keyFrame ? sample->SetUINT32(MFSampleExtension_CleanPoint, TRUE)
                             : sample->DeleteItem(MFSampleExtension_CleanPoint);
    return hr;
}

HRESULT VideoEncoderTransform::Collect() {
    return CollectPackets([this](const av::PacketConsumer& consumer) { return m_encoder->Receive(consumer); },
                          [this](const av::EncodedPacketView& packet, ComPtr<IMFSample>& sample) {
                              return MakeAccessUnit(packet, sample);
                          },
                          m_output);
}

HRESULT VideoEncoderTransform::MakeOutput(MFT_OUTPUT_DATA_BUFFER& buffer) {
    if (HandOut(m_output, buffer))
        return S_OK;
    // A completed drain ends the stream; the next picture starts a new one with a key frame.
    if (m_draining)
        Reset();
    return MF_E_TRANSFORM_NEED_MORE_INPUT;
}

HRESULT VideoEncoderTransform::Flush() {
    // The next picture starts a new stream, with a key frame, so the sink can start cleanly.
    if (m_streaming)
        Reset();
    return S_OK;
}

HRESULT VideoEncoderTransform::Drain() {
    if (!m_streaming || m_draining)
        return S_OK;
    m_draining = true;
    const HRESULT hr = HResultFromCodecStatus(m_encoder->Drain());
    return SUCCEEDED(hr) ? Collect() : hr;
}
