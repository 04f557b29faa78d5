#include "TestEncoders.h"

#include "TestPattern.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

constexpr std::int64_t UnitsPerSecond = 10'000'000;

struct CodecContext {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    ~CodecContext() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

AVCodecContext* AllocateEncoder(const std::string& name) {
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (codec == nullptr)
        throw std::runtime_error("encoder not available: " + name);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (context == nullptr)
        throw std::runtime_error("avcodec_alloc_context3 failed");
    return context;
}

void Open(CodecContext& codec, AVDictionary** options) {
    const int error = avcodec_open2(codec.context, nullptr, options);
    av_dict_free(options);
    if (error < 0)
        throw std::runtime_error("avcodec_open2 failed");
    codec.packet = av_packet_alloc();
    codec.frame = av_frame_alloc();
    if (codec.packet == nullptr || codec.frame == nullptr)
        throw std::runtime_error("out of memory");
}

// Sends a frame (or null to drain) and collects every packet that comes out.
std::vector<AVPacket*> Pump(CodecContext& codec, const AVFrame* frame) {
    if (avcodec_send_frame(codec.context, frame) < 0)
        throw std::runtime_error("avcodec_send_frame failed");
    std::vector<AVPacket*> packets;
    while (avcodec_receive_packet(codec.context, codec.packet) >= 0) {
        packets.push_back(av_packet_clone(codec.packet));
        av_packet_unref(codec.packet);
    }
    return packets;
}

} // namespace

struct VideoEncoder::Impl {
    VideoSettings settings;
    CodecContext codec;

    std::vector<EncodedPacket> Collect(const AVFrame* frame) {
        std::vector<EncodedPacket> out;
        for (AVPacket* packet : Pump(codec, frame)) {
            EncodedPacket encoded;
            encoded.kind = EncodedPacket::Video;
            encoded.data.assign(packet->data, packet->data + packet->size);
            encoded.frame = static_cast<int>(packet->pts);
            encoded.time = packet->pts * UnitsPerSecond / settings.frameRate;
            encoded.duration = UnitsPerSecond / settings.frameRate;
            encoded.cleanPoint = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            out.push_back(std::move(encoded));
            av_packet_free(&packet);
        }
        return out;
    }
};

VideoEncoder::VideoEncoder(const VideoSettings& settings) : m_impl(std::make_unique<Impl>()) {
    m_impl->settings = settings;
    AVCodecContext* context = m_impl->codec.context = AllocateEncoder(settings.encoder);
    context->width = settings.width;
    context->height = settings.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, settings.frameRate};
    context->framerate = AVRational{settings.frameRate, 1};
    context->gop_size = settings.gop;
    context->keyint_min = settings.gop;
    context->max_b_frames = 0;
    context->bit_rate = settings.bitRate;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "ultrafast", 0);
    av_dict_set(&options, "tune", "zerolatency", 0);
    if (settings.bitRate == 0)
        av_dict_set(&options, "crf", "20", 0);
    if (settings.encoder == "libx265") {
        av_dict_set(
            &options, "x265-params",
            ("log-level=error:scenecut=0:bframes=0:repeat-headers=1:keyint=" + std::to_string(settings.gop))
                .c_str(),
            0);
    } else {
        av_dict_set(&options, "x264-params", "scenecut=0", 0);
    }
    Open(m_impl->codec, &options);
}

VideoEncoder::~VideoEncoder() = default;

std::vector<EncodedPacket> VideoEncoder::Encode(int index) {
    const YuvFrame source = MakePatternFrame(index, m_impl->settings.width, m_impl->settings.height);
    AVFrame* frame = m_impl->codec.frame;
    av_frame_unref(frame);
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = source.width;
    frame->height = source.height;
    if (av_frame_get_buffer(frame, 0) < 0)
        throw std::runtime_error("av_frame_get_buffer failed");
    const std::vector<std::uint8_t>* planes[3] = {&source.y, &source.u, &source.v};
    for (int plane = 0; plane < 3; ++plane) {
        const int width = plane == 0 ? source.width : source.width / 2;
        const int height = plane == 0 ? source.height : source.height / 2;
        for (int row = 0; row < height; ++row)
            std::memcpy(frame->data[plane] + std::size_t(row) * frame->linesize[plane],
                        planes[plane]->data() + std::size_t(row) * width, std::size_t(width));
    }
    frame->pts = index;
    return m_impl->Collect(frame);
}

std::vector<EncodedPacket> VideoEncoder::Flush() { return m_impl->Collect(nullptr); }

struct AudioEncoder::Impl {
    AudioSettings settings;
    CodecContext codec;
    std::int64_t samplesSent = 0;
    int packetsOut = 0;

    std::vector<EncodedPacket> Collect(const AVFrame* frame) {
        std::vector<EncodedPacket> out;
        for (AVPacket* packet : Pump(codec, frame)) {
            EncodedPacket encoded;
            encoded.kind = EncodedPacket::Audio;
            encoded.data.assign(packet->data, packet->data + packet->size);
            encoded.frame = packetsOut;
            encoded.time =
                std::int64_t(packetsOut) * codec.context->frame_size * UnitsPerSecond / settings.sampleRate;
            encoded.duration = std::int64_t(codec.context->frame_size) * UnitsPerSecond / settings.sampleRate;
            encoded.cleanPoint = true;
            ++packetsOut;
            out.push_back(std::move(encoded));
            av_packet_free(&packet);
        }
        return out;
    }
};

AudioEncoder::AudioEncoder(const AudioSettings& settings) : m_impl(std::make_unique<Impl>()) {
    m_impl->settings = settings;
    AVCodecContext* context = m_impl->codec.context = AllocateEncoder(settings.encoder);
    const bool flac = settings.encoder == "flac";
    context->sample_fmt = flac ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
    context->sample_rate = settings.sampleRate;
    av_channel_layout_default(&context->ch_layout, settings.channels);
    context->bit_rate = flac ? 0 : settings.bitRate;
    context->time_base = AVRational{1, settings.sampleRate};
    AVDictionary* options = nullptr;
    Open(m_impl->codec, &options);
}

AudioEncoder::~AudioEncoder() = default;

int AudioEncoder::FrameSamples() const { return m_impl->codec.context->frame_size; }

std::vector<std::uint8_t> AudioEncoder::CodecConfig() const {
    const AVCodecContext* context = m_impl->codec.context;
    return {context->extradata, context->extradata + context->extradata_size};
}

std::vector<EncodedPacket> AudioEncoder::EncodeNext() {
    AVCodecContext* context = m_impl->codec.context;
    AVFrame* frame = m_impl->codec.frame;
    av_frame_unref(frame);
    frame->format = context->sample_fmt;
    frame->nb_samples = context->frame_size;
    frame->sample_rate = context->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &context->ch_layout) < 0 ||
        av_frame_get_buffer(frame, 0) < 0)
        throw std::runtime_error("audio frame allocation failed");
    const int channels = context->ch_layout.nb_channels;
    for (int i = 0; i < frame->nb_samples; ++i) {
        const double t = double(m_impl->samplesSent + i) / context->sample_rate;
        const double value = 0.3 * std::sin(2 * M_PI * 440 * t);
        for (int channel = 0; channel < channels; ++channel) {
            if (context->sample_fmt == AV_SAMPLE_FMT_FLTP)
                reinterpret_cast<float*>(frame->data[channel])[i] = static_cast<float>(value);
            else
                reinterpret_cast<std::int16_t*>(frame->data[0])[i * channels + channel] =
                    static_cast<std::int16_t>(value * 32767);
        }
    }
    frame->pts = m_impl->samplesSent;
    m_impl->samplesSent += frame->nb_samples;
    return m_impl->Collect(frame);
}

std::vector<EncodedPacket> AudioEncoder::Flush() { return m_impl->Collect(nullptr); }

std::vector<EncodedPacket> EncodeCapture(const VideoSettings& video, const AudioSettings& audio,
                                         double seconds) {
    VideoEncoder videoEncoder(video);
    AudioEncoder audioEncoder(audio);
    std::vector<EncodedPacket> packets;
    auto append = [&](std::vector<EncodedPacket>&& more) {
        for (EncodedPacket& packet : more)
            packets.push_back(std::move(packet));
    };
    const int frames = static_cast<int>(seconds * video.frameRate);
    const std::int64_t end = std::int64_t(seconds * UnitsPerSecond);
    for (int i = 0; i < frames; ++i)
        append(videoEncoder.Encode(i));
    append(videoEncoder.Flush());
    for (;;) {
        std::vector<EncodedPacket> more = audioEncoder.EncodeNext();
        const bool done = !more.empty() && more.back().time >= end;
        append(std::move(more));
        if (done)
            break;
    }
    std::erase_if(packets, [&](const EncodedPacket& packet) { return packet.time >= end; });
    std::stable_sort(packets.begin(), packets.end(), [](const EncodedPacket& a, const EncodedPacket& b) {
        return a.time != b.time ? a.time < b.time : a.kind > b.kind;
    });
    return packets;
}
