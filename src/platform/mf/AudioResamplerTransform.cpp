#include "AudioResamplerTransform.h"

#include "AudioTypes.h"
#include "CodecResult.h"
#include "SampleData.h"
#include <mfapi.h>
#include <pyx/HundredNanoseconds.h>

HRESULT AudioResamplerTransform::Create(IMFTransform** transform) {
    if (transform == nullptr)
        return E_POINTER;
    *transform = nullptr;
    ComPtr<AudioResamplerTransform> created = MakeComObject<AudioResamplerTransform>();
    if (!created)
        return E_OUTOFMEMORY;
    const HRESULT hr = created->Initialize();
    if (SUCCEEDED(hr))
        *transform = created.Detach();
    return hr;
}

void AudioResamplerTransform::DescribeInput(MFT_INPUT_STREAM_INFO& info) {
    info.dwFlags = MFT_INPUT_STREAM_WHOLE_SAMPLES;
    info.cbSize = m_inputType ? m_in.BytesPerFrame() : 0;
}

void AudioResamplerTransform::DescribeOutput(MFT_OUTPUT_STREAM_INFO& info) {
    info.dwFlags = MFT_OUTPUT_STREAM_WHOLE_SAMPLES | MFT_OUTPUT_STREAM_PROVIDES_SAMPLES;
    info.cbSize = m_outputType ? m_out.BytesPerFrame() : 0;
}

HRESULT AudioResamplerTransform::InputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) {
    if (index > 1)
        return MF_E_NO_MORE_TYPES;
    return MakePartialType(MFMediaType_Audio, index == 0 ? MFAudioFormat_Float : MFAudioFormat_PCM, type);
}

HRESULT AudioResamplerTransform::OutputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) {
    if (index > 1)
        return MF_E_NO_MORE_TYPES;
    return MakePartialType(MFMediaType_Audio, index == 0 ? MFAudioFormat_PCM : MFAudioFormat_Float, type);
}

HRESULT AudioResamplerTransform::CheckInputType(IMFMediaType* type) {
    av::PcmFormat format;
    return PcmFormatFromType(type, format);
}

HRESULT AudioResamplerTransform::CheckOutputType(IMFMediaType* type) {
    av::PcmFormat format;
    return PcmFormatFromType(type, format);
}

void AudioResamplerTransform::TypesChanged() {
    m_resampler.reset();
    m_ready = nullptr;
    m_draining = false;
    m_nextTime = 0;
    m_in = {};
    m_out = {};
    // Both types passed their checks when they were set, so reading them again cannot fail.
    if (m_inputType)
        (void)PcmFormatFromType(m_inputType.Get(), m_in);
    if (m_outputType)
        (void)PcmFormatFromType(m_outputType.Get(), m_out);
}

HRESULT AudioResamplerTransform::Open() {
    return m_resampler ? S_OK : HResultFromCodecStatus(av::AudioResampler::Open(m_in, m_out, m_resampler));
}

LONGLONG AudioResamplerTransform::Duration(std::int64_t frames) const {
    return pyx::FramesDuration(frames, m_out.sampleRate).count();
}

HRESULT AudioResamplerTransform::TakeInput(IMFSample* sample) {
    HRESULT hr = Open();
    SampleBytes bytes;
    int frames = 0;
    if (SUCCEEDED(hr))
        hr = LockPcm(sample, m_in, bytes, frames);
    if (FAILED(hr))
        return hr;
    // The first output frame of this call is what the filter held before it.
    const std::int64_t held = m_resampler->DelayFrames();
    LONGLONG time = 0;
    if (SUCCEEDED(sample->GetSampleTime(&time)))
        m_nextTime = time - Duration(held);
    m_converted.clear();
    int produced = 0;
    hr = HResultFromCodecStatus(m_resampler->Convert(bytes.Data(), frames, m_converted, produced));
    if (FAILED(hr) || produced == 0)
        return hr;
    return Emit(m_converted, produced, m_nextTime, sample);
}

HRESULT AudioResamplerTransform::Emit(const std::vector<std::uint8_t>& bytes, int frames, LONGLONG time,
                                      IMFSample* attributesFrom) {
    ComPtr<IMFSample> output;
    HRESULT hr = CreateSampleWithData(bytes.data(), bytes.size(), output);
    if (SUCCEEDED(hr) && attributesFrom != nullptr)
        hr = attributesFrom->CopyAllItems(output.Get());
    if (SUCCEEDED(hr))
        hr = SetSampleTiming(output.Get(), time, Duration(frames));
    if (FAILED(hr))
        return hr;
    m_nextTime = time + Duration(frames);
    m_ready = std::move(output);
    return S_OK;
}

HRESULT AudioResamplerTransform::MakeOutput(MFT_OUTPUT_DATA_BUFFER& buffer) {
    if (!m_ready && m_draining) {
        m_draining = false;
        const HRESULT hr = EmitHeld();
        if (FAILED(hr))
            return hr;
    }
    if (!m_ready)
        return MF_E_TRANSFORM_NEED_MORE_INPUT;
    buffer.pSample = m_ready.Detach();
    return S_OK;
}

HRESULT AudioResamplerTransform::Flush() {
    m_ready = nullptr;
    m_draining = false;
    m_resampler.reset();
    return S_OK;
}

HRESULT AudioResamplerTransform::Drain() {
    m_draining = static_cast<bool>(m_resampler);
    return S_OK;
}

HRESULT AudioResamplerTransform::EmitHeld() {
    m_converted.clear();
    int produced = 0;
    HRESULT hr = HResultFromCodecStatus(m_resampler->Drain(m_converted, produced));
    if (SUCCEEDED(hr) && produced > 0)
        hr = Emit(m_converted, produced, m_nextTime, nullptr);
    m_resampler.reset();
    return hr;
}
