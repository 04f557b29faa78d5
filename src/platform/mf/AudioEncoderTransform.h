#pragma once
// The platform's AAC and FLAC encoders: 16-bit PCM in, one codec frame per output sample. The input type is
// set first; the output type must then have the same rate and channels (and, for AAC, a bit rate in
// MF_MT_AUDIO_AVG_BYTES_PER_SECOND). The current output type carries the codec data in MF_MT_USER_DATA:
// for AAC the HEAACWAVEINFO fields after WAVEFORMATEX followed by the AudioSpecificConfig, for FLAC the
// STREAMINFO block. Packet times count samples from the first input's time; gaps in the input's times are
// filled with silence.

#include "EncodedOutput.h"
#include "TransformBase.h"
#include "platform/av/AudioEncoder.h"
#include "platform/av/AudioResampler.h"

#include <deque>
#include <memory>

class AudioEncoderTransform final : public TransformBase<> {
public:
    // `codec` is av::Codec::Aac or av::Codec::Flac.
    static HRESULT Create(av::Codec codec, IMFTransform** transform);

    explicit AudioEncoderTransform(av::Codec codec) : m_codec(codec) {}

protected:
    void DescribeInput(MFT_INPUT_STREAM_INFO& info) override;
    void DescribeOutput(MFT_OUTPUT_STREAM_INFO& info) override;
    HRESULT InputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) override;
    HRESULT OutputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) override;
    HRESULT CheckInputType(IMFMediaType* type) override;
    HRESULT CheckOutputType(IMFMediaType* type) override;
    void TypesChanged() override;
    HRESULT PublishedOutputType(ComPtr<IMFMediaType>& type) override;
    bool CanTakeInput() override { return m_output.empty() && !m_draining; }
    bool HasOutput() override { return !m_output.empty(); }
    HRESULT TakeInput(IMFSample* sample) override;
    HRESULT MakeOutput(MFT_OUTPUT_DATA_BUFFER& buffer) override;
    HRESULT Flush() override;
    HRESULT Drain() override;

private:
    HRESULT Open();
    // Turns every packet the encoder has ready into an output sample.
    HRESULT Collect();
    HRESULT Encode(const std::int16_t* samples, std::int64_t frames);
    HRESULT FillGap(LONGLONG time);
    HRESULT OutputTypeFor(UINT32 bytesPerSecond, ComPtr<IMFMediaType>& type);
    void Reset();
    const GUID& Subtype() const;

    const av::Codec m_codec;
    av::PcmFormat m_in;
    UINT32 m_bitRate = 0;
    std::unique_ptr<av::AudioEncoder> m_encoder;
    SampleQueue m_output;
    bool m_started = false;
    bool m_draining = false;
    LONGLONG m_baseTime = 0;
    // Sample frames given to the encoder since the first input.
    std::int64_t m_encodedFrames = 0;
};
