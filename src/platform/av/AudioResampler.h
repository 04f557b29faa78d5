#pragma once
// Sample-rate, channel and sample-format conversion of interleaved PCM through libswresample.

#include "CodecTypes.h"

#include <memory>
#include <vector>

namespace av {

enum class SampleFormat { Int16, Float32 };

struct PcmFormat {
    SampleFormat format = SampleFormat::Int16;
    std::uint32_t sampleRate = 0;
    std::uint32_t channels = 0;

    std::uint32_t BytesPerFrame() const { return channels * (format == SampleFormat::Int16 ? 2 : 4); }
};

class AudioResampler {
public:
    static CodecStatus Open(const PcmFormat& input, const PcmFormat& output,
                            std::unique_ptr<AudioResampler>& resampler);
    ~AudioResampler();
    AudioResampler(const AudioResampler&) = delete;
    AudioResampler& operator=(const AudioResampler&) = delete;

    // Converts `frames` input sample frames and appends what comes out to `output`; `produced` is the number
    // of output frames appended. Some input stays inside the filter until later calls or Drain.
    CodecStatus Convert(const std::uint8_t* input, int frames, std::vector<std::uint8_t>& output,
                        int& produced);
    // Appends everything still inside the filter.
    CodecStatus Drain(std::vector<std::uint8_t>& output, int& produced);
    // How much of the input given so far is still inside the filter, in output sample frames.
    std::int64_t DelayFrames() const;

    struct Impl;

private:
    explicit AudioResampler(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace av
