#pragma once
// The platform's audio resampler (CLSID_AudioResamplerMediaObject): 16-bit PCM or 32-bit float at any rate
// and channel count to any other, on libswresample. Output keeps the input's clock: each output sample is
// stamped with the time of the input it came from, less what the filter still holds.

#include "TransformBase.h"
#include "platform/av/AudioResampler.h"

#include <memory>
#include <vector>

class AudioResamplerTransform final : public TransformBase<> {
public:
    static HRESULT Create(IMFTransform** transform);

protected:
    void DescribeInput(MFT_INPUT_STREAM_INFO& info) override;
    void DescribeOutput(MFT_OUTPUT_STREAM_INFO& info) override;
    HRESULT InputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) override;
    HRESULT OutputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) override;
    HRESULT CheckInputType(IMFMediaType* type) override;
    HRESULT CheckOutputType(IMFMediaType* type) override;
    void TypesChanged() override;
    bool CanTakeInput() override { return !m_ready && !m_draining; }
    bool HasOutput() override { return m_ready || m_draining; }
    HRESULT TakeInput(IMFSample* sample) override;
    HRESULT MakeOutput(MFT_OUTPUT_DATA_BUFFER& buffer) override;
    HRESULT Flush() override;
    HRESULT Drain() override;

private:
    HRESULT Open();
    // Turns the converted bytes into the waiting output sample.
    HRESULT Emit(const std::vector<std::uint8_t>& bytes, int frames, LONGLONG time,
                 IMFSample* attributesFrom);
    // After a drain: what the filter still holds, as the last output.
    HRESULT EmitHeld();
    LONGLONG Duration(std::int64_t frames) const;

    av::PcmFormat m_in;
    av::PcmFormat m_out;
    std::unique_ptr<av::AudioResampler> m_resampler;
    ComPtr<IMFSample> m_ready;
    bool m_draining = false;
    std::vector<std::uint8_t> m_converted;
    // Where the next output continues when the input carries no time.
    LONGLONG m_nextTime = 0;
};
