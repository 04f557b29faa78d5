#include "AudioEncoderTransform.h"

#include "AudioTypes.h"
#include "CodecResult.h"
#include "EncodedOutput.h"
#include "SampleData.h"
#include <mfapi.h>
#include <pyx/HundredNanoseconds.h>

#include <array>
#include <vector>

namespace {

// HEAACWAVEINFO after WAVEFORMATEX: payload type, profile level, structure type, two reserved fields.
constexpr std::size_t HeAacInfoSize = 12;
// AAC profile level indication for AAC-LC at up to 48 kHz stereo.
constexpr UINT32 AacProfileLevel = 0x29;
constexpr UINT32 AacRawPayload = 0;
constexpr UINT32 DefaultAacBytesPerSecond = 24000;
// Input times may wobble by this fraction of a second before missing audio is assumed.
constexpr std::int64_t GapToleranceDivisor = 50;
// Longer gaps are not filled with silence.
constexpr std::int64_t MaxSilenceSeconds = 10;
constexpr std::array<UINT32, 12> AacRates = {96000, 88200, 64000, 48000, 44100, 32000,
                                             24000, 22050, 16000, 12000, 11025, 8000};
// The FLAC format stores the rate in 20 bits.
constexpr UINT32 MaxFlacRate = 655350;

bool RateAllowed(av::Codec codec, UINT32 rate) {
    if (codec == av::Codec::Flac)
        return rate <= MaxFlacRate;
    for (UINT32 allowed : AacRates)
        if (allowed == rate)
            return true;
    return false;
}

} // namespace

HRESULT AudioEncoderTransform::Create(av::Codec codec, IMFTransform** transform) {
    if (transform == nullptr)
        return E_POINTER;
    *transform = nullptr;
    if (codec != av::Codec::Aac && codec != av::Codec::Flac)
        return E_INVALIDARG;
    ComPtr<AudioEncoderTransform> created = MakeComObject<AudioEncoderTransform>(codec);
    if (!created)
        return E_OUTOFMEMORY;
    const HRESULT hr = created->Initialize();
    if (SUCCEEDED(hr))
        *transform = created.Detach();
    return hr;
}

const GUID& AudioEncoderTransform::Subtype() const {
    return m_codec == av::Codec::Aac ? MFAudioFormat_AAC : MFAudioFormat_FLAC;
}

void AudioEncoderTransform::DescribeInput(MFT_INPUT_STREAM_INFO& info) {
    info.dwFlags = MFT_INPUT_STREAM_WHOLE_SAMPLES;
    info.cbSize = m_inputType ? m_in.BytesPerFrame() : 0;
}

void AudioEncoderTransform::DescribeOutput(MFT_OUTPUT_STREAM_INFO& info) {
    info.dwFlags = MFT_OUTPUT_STREAM_WHOLE_SAMPLES | MFT_OUTPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER |
                   MFT_OUTPUT_STREAM_PROVIDES_SAMPLES;
}

HRESULT AudioEncoderTransform::InputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) {
    if (index > 0)
        return MF_E_NO_MORE_TYPES;
    return MakePartialType(MFMediaType_Audio, MFAudioFormat_PCM, type);
}

HRESULT AudioEncoderTransform::OutputTypeFor(UINT32 bytesPerSecond, ComPtr<IMFMediaType>& type) {
    HRESULT hr = MakePartialType(MFMediaType_Audio, Subtype(), type);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, m_in.sampleRate);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, m_in.channels);
    if (SUCCEEDED(hr) && m_codec == av::Codec::Aac)
        hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, bytesPerSecond);
    return hr;
}

HRESULT AudioEncoderTransform::OutputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) {
    if (!m_inputType)
        return MF_E_TRANSFORM_TYPE_NOT_SET;
    if (index > 0)
        return MF_E_NO_MORE_TYPES;
    return OutputTypeFor(DefaultAacBytesPerSecond, type);
}

HRESULT AudioEncoderTransform::CheckInputType(IMFMediaType* type) {
    av::PcmFormat format;
    const HRESULT hr = PcmFormatFromType(type, format);
    if (FAILED(hr))
        return hr;
    return format.format == av::SampleFormat::Int16 && RateAllowed(m_codec, format.sampleRate)
               ? S_OK
               : MF_E_INVALIDMEDIATYPE;
}

HRESULT AudioEncoderTransform::CheckOutputType(IMFMediaType* type) {
    if (!m_inputType)
        return MF_E_TRANSFORM_TYPE_NOT_SET;
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    if (FAILED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) || major != MFMediaType_Audio ||
        FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) || subtype != Subtype())
        return MF_E_INVALIDMEDIATYPE;
    if (MFGetAttributeUINT32(type, MF_MT_AUDIO_SAMPLES_PER_SECOND, 0) != m_in.sampleRate ||
        MFGetAttributeUINT32(type, MF_MT_AUDIO_NUM_CHANNELS, 0) != m_in.channels ||
        MFGetAttributeUINT32(type, MF_MT_AUDIO_BITS_PER_SAMPLE, 16) != 16)
        return MF_E_INVALIDMEDIATYPE;
    if (m_codec == av::Codec::Aac &&
        (MFGetAttributeUINT32(type, MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 0) == 0 ||
         MFGetAttributeUINT32(type, MF_MT_AAC_PAYLOAD_TYPE, AacRawPayload) != AacRawPayload))
        return MF_E_INVALIDMEDIATYPE;
    return S_OK;
}

void AudioEncoderTransform::TypesChanged() {
    Reset();
    m_in = {};
    m_bitRate = 0;
    // The input type passed its check when it was set, so reading it again cannot fail.
    if (m_inputType)
        (void)PcmFormatFromType(m_inputType.Get(), m_in);
    // An output type set before a new input type may no longer fit it.
    if (m_outputType && m_inputType && FAILED(CheckOutputType(m_outputType.Get())))
        m_outputType = nullptr;
    if (m_outputType)
        m_bitRate = MFGetAttributeUINT32(m_outputType.Get(), MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 0) * 8;
}

void AudioEncoderTransform::Reset() {
    m_encoder.reset();
    m_output.clear();
    m_started = false;
    m_draining = false;
    m_baseTime = 0;
    m_encodedFrames = 0;
}

HRESULT AudioEncoderTransform::Open() {
    if (m_encoder)
        return S_OK;
    const av::AudioEncoderSettings settings{m_codec, m_in.sampleRate, m_in.channels, m_bitRate};
    return HResultFromCodecStatus(av::AudioEncoder::Open(settings, m_encoder));
}

HRESULT AudioEncoderTransform::PublishedOutputType(ComPtr<IMFMediaType>& type) {
    HRESULT hr = Open();
    if (SUCCEEDED(hr))
        hr = CopyMediaType(m_outputType.Get(), type);
    if (FAILED(hr))
        return hr;
    const std::vector<std::uint8_t>& config = m_encoder->CodecConfig();
    std::vector<UINT8> userData;
    if (m_codec == av::Codec::Aac) {
        userData.assign(HeAacInfoSize, 0);
        userData[2] = static_cast<UINT8>(AacProfileLevel);
        hr = type->SetUINT32(MF_MT_AAC_PAYLOAD_TYPE, AacRawPayload);
        if (SUCCEEDED(hr))
            hr = type->SetUINT32(MF_MT_AAC_AUDIO_PROFILE_LEVEL_INDICATION, AacProfileLevel);
    }
    userData.insert(userData.end(), config.begin(), config.end());
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    if (SUCCEEDED(hr))
        hr = type->SetBlob(MF_MT_USER_DATA, userData.data(), static_cast<UINT32>(userData.size()));
    return hr;
}

HRESULT AudioEncoderTransform::TakeInput(IMFSample* sample) {
    HRESULT hr = Open();
    SampleBytes bytes;
    int frames = 0;
    if (SUCCEEDED(hr))
        hr = LockPcm(sample, m_in, bytes, frames);
    if (FAILED(hr))
        return hr;
    LONGLONG time = 0;
    const bool timed = SUCCEEDED(sample->GetSampleTime(&time));
    if (!m_started) {
        m_baseTime = timed ? time : 0;
        m_started = true;
    } else if (timed) {
        hr = FillGap(time);
    }
    if (SUCCEEDED(hr))
        hr = Encode(reinterpret_cast<const std::int16_t*>(bytes.Data()), frames);
    return SUCCEEDED(hr) ? Collect() : hr;
}

HRESULT AudioEncoderTransform::Encode(const std::int16_t* samples, std::int64_t frames) {
    const HRESULT hr = HResultFromCodecStatus(m_encoder->Encode(samples, static_cast<int>(frames)));
    if (SUCCEEDED(hr))
        m_encodedFrames += frames;
    return hr;
}

// Packet times count samples, so audio that never arrived would pull every later packet early: a gap in the
// input times is filled with silence, and one too long for that starts the count again at the input's time.
HRESULT AudioEncoderTransform::FillGap(LONGLONG time) {
    const LONGLONG expected = m_baseTime + pyx::FramesDuration(m_encodedFrames, m_in.sampleRate).count();
    const std::int64_t missing = pyx::FramesWithin(pyx::HundredNanoseconds(time - expected), m_in.sampleRate);
    if (missing <= std::int64_t(m_in.sampleRate) / GapToleranceDivisor)
        return S_OK;
    if (missing > std::int64_t(m_in.sampleRate) * MaxSilenceSeconds) {
        m_baseTime = time - pyx::FramesDuration(m_encodedFrames, m_in.sampleRate).count();
        return S_OK;
    }
    const std::vector<std::int16_t> silence(static_cast<std::size_t>(missing) * m_in.channels, 0);
    return Encode(silence.data(), missing);
}

HRESULT AudioEncoderTransform::Collect() {
    return CollectPackets([this](const av::PacketConsumer& consumer) { return m_encoder->Receive(consumer); },
                          [this](const av::EncodedPacketView& packet, ComPtr<IMFSample>& output) {
                              HRESULT hr = CreateSampleWithData(packet.data, packet.size, output);
                              if (SUCCEEDED(hr))
                                  hr = SetSampleTiming(
                                      output.Get(),
                                      m_baseTime + pyx::FramesDuration(packet.pts, m_in.sampleRate).count(),
                                      pyx::FramesDuration(packet.duration, m_in.sampleRate).count());
                              if (SUCCEEDED(hr) && packet.keyFrame)
                                  hr = output->SetUINT32(MFSampleExtension_CleanPoint, TRUE);
                              return hr;
                          },
                          m_output);
}

HRESULT AudioEncoderTransform::MakeOutput(MFT_OUTPUT_DATA_BUFFER& buffer) {
    if (HandOut(m_output, buffer))
        return S_OK;
    // A completed drain ends the stream; the next input starts a new one.
    if (m_draining)
        Reset();
    return MF_E_TRANSFORM_NEED_MORE_INPUT;
}

HRESULT AudioEncoderTransform::Flush() {
    Reset();
    return S_OK;
}

HRESULT AudioEncoderTransform::Drain() {
    if (!m_encoder || m_draining)
        return S_OK;
    m_draining = true;
    const HRESULT hr = HResultFromCodecStatus(m_encoder->Drain());
    return SUCCEEDED(hr) ? Collect() : hr;
}
