#include "AudioTypes.h"

#include "TransformBase.h"
#include <mfapi.h>
#include <mferror.h>

namespace {

constexpr UINT32 MaxChannels = 8;
constexpr UINT32 MaxRate = 384000;

} // namespace

HRESULT PcmFormatFromType(IMFMediaType* type, av::PcmFormat& format) {
    format = {};
    if (type == nullptr)
        return E_POINTER;
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    if (FAILED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) || major != MFMediaType_Audio ||
        FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)))
        return MF_E_INVALIDMEDIATYPE;
    UINT32 bits = 0;
    if (FAILED(type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits)) ||
        FAILED(type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &format.sampleRate)) ||
        FAILED(type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &format.channels)))
        return MF_E_INVALIDMEDIATYPE;
    if (subtype == MFAudioFormat_PCM && bits == 16)
        format.format = av::SampleFormat::Int16;
    else if (subtype == MFAudioFormat_Float && bits == 32)
        format.format = av::SampleFormat::Float32;
    else
        return MF_E_INVALIDMEDIATYPE;
    if (format.channels == 0 || format.channels > MaxChannels || format.sampleRate == 0 ||
        format.sampleRate > MaxRate)
        return MF_E_INVALIDMEDIATYPE;
    UINT32 blockAlignment = 0;
    if (SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &blockAlignment)) &&
        blockAlignment != format.BytesPerFrame())
        return MF_E_INVALIDMEDIATYPE;
    return S_OK;
}

HRESULT MakePcmType(const av::PcmFormat& format, ComPtr<IMFMediaType>& type) {
    const bool integer = format.format == av::SampleFormat::Int16;
    HRESULT hr = MakePartialType(MFMediaType_Audio, integer ? MFAudioFormat_PCM : MFAudioFormat_Float, type);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, integer ? 16 : 32);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, format.sampleRate);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, format.channels);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, format.BytesPerFrame());
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, format.BytesPerFrame() * format.sampleRate);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    return hr;
}

HRESULT LockPcm(IMFSample* sample, const av::PcmFormat& format, SampleBytes& bytes, int& frames) {
    frames = 0;
    const HRESULT hr = bytes.Lock(sample);
    if (FAILED(hr))
        return hr;
    if (bytes.Size() % format.BytesPerFrame() != 0)
        return E_INVALIDARG;
    frames = static_cast<int>(bytes.Size() / format.BytesPerFrame());
    return S_OK;
}
