#include "AudioEncoder.h"

#include "CodecSupport.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <deque>

namespace av {

namespace {

constexpr std::uint32_t PlainStereoBitsPerChannel = 80000;

struct QueuedPacket {
    std::vector<std::uint8_t> data;
    std::int64_t pts = 0;
    std::int64_t duration = 0;
    bool keyFrame = false;
};

bool Supports(const AVCodec* codec, AVSampleFormat format) {
    for (const AVSampleFormat* f = codec->sample_fmts; f != nullptr && *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == format)
            return true;
    return false;
}

} // namespace

struct AudioEncoder::Impl {
    CodecContextPtr context;
    PacketPtr packet;
    FramePtr frame;
    std::vector<std::uint8_t> codecConfig;
    std::vector<std::int16_t> pending; // interleaved samples not yet encoded
    std::int64_t position = 0;         // sample frames handed to the codec
    std::deque<QueuedPacket> packets;
    bool draining = false;

    int Channels() const { return context->ch_layout.nb_channels; }
    CodecStatus EncodeFrame(int frames);
    CodecStatus Collect();
};

CodecStatus AudioEncoder::Impl::EncodeFrame(int frames) {
    frame->nb_samples = frames;
    if (int error = av_frame_make_writable(frame.get()); error < 0)
        return StatusFromAvError(error);
    const int channels = Channels();
    if (context->sample_fmt == AV_SAMPLE_FMT_S16) {
        std::copy_n(pending.data(), static_cast<std::size_t>(frames) * channels,
                    reinterpret_cast<std::int16_t*>(frame->data[0]));
    } else {
        for (int c = 0; c < channels; ++c) {
            auto* plane = reinterpret_cast<float*>(frame->extended_data[c]);
            for (int i = 0; i < frames; ++i)
                plane[i] = pending[static_cast<std::size_t>(i) * channels + c] / 32768.0f;
        }
    }
    frame->pts = position;
    if (int error = avcodec_send_frame(context.get(), frame.get()); error < 0)
        return StatusFromAvError(error);
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(frames) * channels);
    position += frames;
    return Collect();
}

// Moves every packet the codec has ready into the queue, so the codec never refuses a frame.
CodecStatus AudioEncoder::Impl::Collect() {
    const std::int64_t delay = context->initial_padding;
    for (;;) {
        QueuedPacket queued;
        const CodecStatus status =
            ReceivePacket(context.get(), packet.get(), [&](const EncodedPacketView& view) {
                queued.data.assign(view.data, view.data + view.size);
                queued.pts = view.pts + delay;
                queued.duration = view.duration;
                queued.keyFrame = view.keyFrame;
            });
        if (status == CodecStatus::Again || status == CodecStatus::EndOfStream)
            return CodecStatus::Ok;
        if (status != CodecStatus::Ok)
            return status;
        // FLAC ends with an empty packet that only carries the final STREAMINFO; it holds no audio.
        if (!queued.data.empty())
            packets.push_back(std::move(queued));
    }
}

AudioEncoder::AudioEncoder(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
AudioEncoder::~AudioEncoder() = default;

CodecStatus AudioEncoder::Open(const AudioEncoderSettings& settings, std::unique_ptr<AudioEncoder>& encoder) {
    encoder.reset();
    if (settings.sampleRate == 0 || settings.channels == 0 || settings.channels > 8 ||
        (settings.codec != Codec::Aac && settings.codec != Codec::Flac))
        return CodecStatus::InvalidArgument;
    QuietLibraryLog();
    const AVCodec* codec =
        avcodec_find_encoder(settings.codec == Codec::Aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_FLAC);
    if (codec == nullptr)
        return CodecStatus::Unsupported;
    auto impl = std::make_unique<Impl>();
    impl->context.reset(avcodec_alloc_context3(codec));
    impl->packet.reset(av_packet_alloc());
    impl->frame.reset(av_frame_alloc());
    if (!impl->context || !impl->packet || !impl->frame)
        return CodecStatus::OutOfMemory;
    AVCodecContext* context = impl->context.get();
    context->sample_rate = static_cast<int>(settings.sampleRate);
    av_channel_layout_default(&context->ch_layout, static_cast<int>(settings.channels));
    context->time_base = {1, context->sample_rate};
    if (Supports(codec, AV_SAMPLE_FMT_S16))
        context->sample_fmt = AV_SAMPLE_FMT_S16;
    else if (Supports(codec, AV_SAMPLE_FMT_FLTP))
        context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    else
        return CodecStatus::Unsupported;
    if (settings.codec == Codec::Aac) {
        context->bit_rate = settings.bitRate;
        // Choosing mid/side stereo band by band costs about a sixth of the encoder's time; with this many
        // bits a channel, left and right coded apart are as clean.
        if (settings.bitRate >= PlainStereoBitsPerChannel * settings.channels)
            if (int error = av_opt_set_int(context->priv_data, "aac_ms", 0, 0); error < 0)
                return StatusFromAvError(error);
    }
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int error = avcodec_open2(context, codec, nullptr); error < 0)
        return error == AVERROR(EINVAL) ? CodecStatus::Unsupported : StatusFromAvError(error);
    impl->codecConfig.assign(context->extradata, context->extradata + context->extradata_size);
    if (impl->codecConfig.empty() || context->frame_size <= 0)
        return CodecStatus::Failed;
    impl->frame->format = context->sample_fmt;
    impl->frame->nb_samples = context->frame_size;
    if (int error = av_channel_layout_copy(&impl->frame->ch_layout, &context->ch_layout); error < 0)
        return StatusFromAvError(error);
    impl->frame->sample_rate = context->sample_rate;
    if (int error = av_frame_get_buffer(impl->frame.get(), 0); error < 0)
        return StatusFromAvError(error);
    encoder.reset(new AudioEncoder(std::move(impl)));
    return CodecStatus::Ok;
}

const std::vector<std::uint8_t>& AudioEncoder::CodecConfig() const { return m_impl->codecConfig; }

int AudioEncoder::FrameSamples() const { return m_impl->context->frame_size; }

CodecStatus AudioEncoder::Encode(const std::int16_t* samples, int frames) {
    if (frames < 0 || (samples == nullptr && frames > 0) || m_impl->draining)
        return CodecStatus::InvalidArgument;
    const int channels = m_impl->Channels();
    m_impl->pending.insert(m_impl->pending.end(), samples,
                           samples + static_cast<std::ptrdiff_t>(frames) * channels);
    const int frameSize = m_impl->context->frame_size;
    while (m_impl->pending.size() >= static_cast<std::size_t>(frameSize) * channels)
        if (const CodecStatus status = m_impl->EncodeFrame(frameSize); status != CodecStatus::Ok)
            return status;
    return CodecStatus::Ok;
}

CodecStatus AudioEncoder::Drain() {
    if (m_impl->draining)
        return CodecStatus::Ok;
    const int left = static_cast<int>(m_impl->pending.size() / m_impl->Channels());
    if (left > 0)
        if (const CodecStatus status = m_impl->EncodeFrame(left); status != CodecStatus::Ok)
            return status;
    m_impl->draining = true;
    if (int error = avcodec_send_frame(m_impl->context.get(), nullptr); error < 0)
        return StatusFromAvError(error);
    return m_impl->Collect();
}

CodecStatus AudioEncoder::Receive(const PacketConsumer& consumer) {
    if (m_impl->packets.empty())
        return m_impl->draining ? CodecStatus::EndOfStream : CodecStatus::Again;
    const QueuedPacket& next = m_impl->packets.front();
    consumer({next.data.data(), next.data.size(), next.pts, next.duration, next.keyFrame});
    m_impl->packets.pop_front();
    return CodecStatus::Ok;
}

} // namespace av
