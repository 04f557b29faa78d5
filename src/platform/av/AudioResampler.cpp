#include "AudioResampler.h"

#include "CodecSupport.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace av {

namespace {

struct SwrFree {
    void operator()(SwrContext* context) const { swr_free(&context); }
};

AVSampleFormat AvFormat(SampleFormat format) {
    return format == SampleFormat::Int16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT;
}

bool Usable(const PcmFormat& format) {
    constexpr std::uint32_t MaxChannels = 8;
    constexpr std::uint32_t MaxRate = 384000;
    return format.channels > 0 && format.channels <= MaxChannels && format.sampleRate > 0 &&
           format.sampleRate <= MaxRate;
}

} // namespace

struct AudioResampler::Impl {
    std::unique_ptr<SwrContext, SwrFree> context;
    PcmFormat input;
    PcmFormat output;

    CodecStatus Run(const std::uint8_t* in, int frames, std::vector<std::uint8_t>& out, int& produced);
};

CodecStatus AudioResampler::Impl::Run(const std::uint8_t* in, int frames, std::vector<std::uint8_t>& out,
                                      int& produced) {
    produced = 0;
    const int capacity = swr_get_out_samples(context.get(), frames);
    if (capacity < 0)
        return StatusFromAvError(capacity);
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(capacity) * output.BytesPerFrame());
    std::uint8_t* target = out.data() + start;
    const std::uint8_t* source = in;
    const int converted =
        swr_convert(context.get(), &target, capacity, in != nullptr ? &source : nullptr, frames);
    if (converted < 0) {
        out.resize(start);
        return StatusFromAvError(converted);
    }
    out.resize(start + static_cast<std::size_t>(converted) * output.BytesPerFrame());
    produced = converted;
    return CodecStatus::Ok;
}

AudioResampler::AudioResampler(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
AudioResampler::~AudioResampler() = default;

CodecStatus AudioResampler::Open(const PcmFormat& input, const PcmFormat& output,
                                 std::unique_ptr<AudioResampler>& resampler) {
    resampler.reset();
    if (!Usable(input) || !Usable(output))
        return CodecStatus::InvalidArgument;
    AVChannelLayout inputLayout;
    AVChannelLayout outputLayout;
    av_channel_layout_default(&inputLayout, static_cast<int>(input.channels));
    av_channel_layout_default(&outputLayout, static_cast<int>(output.channels));
    SwrContext* raw = nullptr;
    int error = swr_alloc_set_opts2(&raw, &outputLayout, AvFormat(output.format),
                                    static_cast<int>(output.sampleRate), &inputLayout, AvFormat(input.format),
                                    static_cast<int>(input.sampleRate), 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    av_channel_layout_uninit(&outputLayout);
    auto impl = std::make_unique<Impl>();
    impl->context.reset(raw);
    if (error < 0)
        return StatusFromAvError(error);
    if (error = swr_init(raw); error < 0)
        return StatusFromAvError(error);
    impl->input = input;
    impl->output = output;
    resampler.reset(new AudioResampler(std::move(impl)));
    return CodecStatus::Ok;
}

CodecStatus AudioResampler::Convert(const std::uint8_t* input, int frames, std::vector<std::uint8_t>& output,
                                    int& produced) {
    produced = 0;
    if (input == nullptr || frames < 0)
        return CodecStatus::InvalidArgument;
    return m_impl->Run(input, frames, output, produced);
}

CodecStatus AudioResampler::Drain(std::vector<std::uint8_t>& output, int& produced) {
    return m_impl->Run(nullptr, 0, output, produced);
}

std::int64_t AudioResampler::DelayFrames() const {
    return swr_get_delay(m_impl->context.get(), m_impl->output.sampleRate);
}

} // namespace av
