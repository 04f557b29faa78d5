#include "Mp4Muxer.h"

#include "FileOutput.h"
#include "FormatLibrary.h"
#include "ParameterSetExtractor.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

#include <cerrno>
#include <cstring>
#include <deque>
#include <limits>
#include <vector>

namespace av {

namespace {

constexpr AVRational HundredNanoseconds{1, 10'000'000};
constexpr int VideoTimeScale = 90'000;
constexpr int AacFrameSamples = 1024;

MuxResult FromAvError(int error) {
    if (error == AVERROR(ENOMEM))
        return MuxResult::OutOfMemory;
    if (error == AVERROR(EINVAL) || error == AVERROR_INVALIDDATA || error == AVERROR_EXPERIMENTAL ||
        error == AVERROR_PATCHWELCOME)
        return MuxResult::UnsupportedFormat;
    return MuxResult::IoError;
}

AVCodecID CodecId(Codec codec) {
    switch (codec) {
    case Codec::H264:
        return AV_CODEC_ID_H264;
    case Codec::Hevc:
        return AV_CODEC_ID_HEVC;
    case Codec::Aac:
        return AV_CODEC_ID_AAC;
    case Codec::Flac:
        return AV_CODEC_ID_FLAC;
    }
    return AV_CODEC_ID_NONE;
}

bool IsUsable(const StreamFormat& format) {
    if (format.IsVideo())
        return format.width > 0 && format.height > 0;
    if (format.sampleRate == 0 || format.channels == 0)
        return false;
    // MP4 carries these audio configurations only in the sample description.
    constexpr std::size_t StreamInfoSize = 34;
    return format.codec == Codec::Aac ? format.codecConfig.size() >= 2
                                      : format.codecConfig.size() == StreamInfoSize;
}

struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

} // namespace

struct Mp4Muxer::Impl {
    struct Stream {
        AVStream* stream;
        bool video;
        std::unique_ptr<ParameterSetExtractor> extractor;
        std::int64_t lastDts = std::numeric_limits<std::int64_t>::min();
    };

    explicit Impl(const FormatLibrary& library) : format(library) {}

    const FormatLibrary& format;
    std::unique_ptr<FileOutput> file;
    AVFormatContext* context = nullptr;
    std::vector<Stream> streams;
    // Packets (times still in 100-ns units) waiting for the parameter sets of a video stream.
    std::deque<PacketPtr> pending;
    bool started = false;
    bool headerWritten = false;
    bool finished = false;
    bool hasFlac = false;
    std::size_t packetsWritten = 0;

    ~Impl() {
        pending.clear();
        streams.clear();
        if (context != nullptr) {
            context->pb = nullptr;
            format.freeContext(context);
        }
    }

    bool AwaitingParameterSets() const {
        for (const Stream& stream : streams)
            if (stream.extractor)
                return true;
        return false;
    }

    MuxResult WriteHeader() {
        AVDictionary* options = nullptr;
        av_dict_set(&options, "movflags", "+faststart", 0);
        // FLAC in MP4 is still behind the experimental switch in this libavformat.
        if (hasFlac)
            context->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
        const int error = format.writeHeader(context, &options);
        av_dict_free(&options);
        if (error < 0)
            return FromAvError(error);
        headerWritten = true;
        while (!pending.empty()) {
            PacketPtr packet = std::move(pending.front());
            pending.pop_front();
            const MuxResult result = WritePacket(packet.get());
            if (result != MuxResult::Ok)
                return result;
        }
        return MuxResult::Ok;
    }

    // Converts the packet's 100-ns times to its stream's time base and hands it to the interleaver.
    MuxResult WritePacket(AVPacket* packet) {
        Stream& stream = streams[static_cast<std::size_t>(packet->stream_index)];
        const AVRational timeBase = stream.stream->time_base;
        const auto rounding = static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
        packet->pts = av_rescale_q_rnd(packet->pts, HundredNanoseconds, timeBase, rounding);
        packet->duration = av_rescale_q_rnd(packet->duration, HundredNanoseconds, timeBase, rounding);
        // Streams are in decode order without reordering; a time that does not advance moves one unit on, so
        // no packet is lost to the muxer's monotonic check.
        if (packet->pts <= stream.lastDts)
            packet->pts = stream.lastDts + 1;
        packet->dts = packet->pts;
        stream.lastDts = packet->dts;
        const int error = format.interleavedWriteFrame(context, packet);
        if (error < 0)
            return FromAvError(error);
        ++packetsWritten;
        return MuxResult::Ok;
    }
};

Mp4Muxer::Mp4Muxer(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

Mp4Muxer::~Mp4Muxer() = default;

MuxResult Mp4Muxer::Create(const std::string& path, std::unique_ptr<Mp4Muxer>& muxer, int& systemError) {
    // libavformat narrates its progress on standard error; only its errors belong there.
    static const bool quiet = (av_log_set_level(AV_LOG_ERROR), true);
    (void)quiet;
    systemError = 0;
    const FormatLibrary* format = LoadFormatLibrary();
    if (format == nullptr)
        return MuxResult::Unavailable;
    auto impl = std::make_unique<Impl>(*format);
    systemError = FileOutput::Open(*format, path, impl->file);
    if (systemError != 0)
        return MuxResult::IoError;
    // The faststart pass reopens the file by name; "file:" keeps a colon in the path from naming a protocol.
    const std::string url = "file:" + path;
    if (format->allocOutputContext(&impl->context, nullptr, "mp4", url.c_str()) < 0 ||
        impl->context == nullptr)
        return MuxResult::OutOfMemory;
    impl->context->pb = impl->file->Context();
    impl->context->flags |= AVFMT_FLAG_CUSTOM_IO;
    muxer.reset(new Mp4Muxer(std::move(impl)));
    return MuxResult::Ok;
}

MuxResult Mp4Muxer::AddStream(const StreamFormat& format, std::uint32_t& index) {
    Impl& impl = *m_impl;
    if (impl.started)
        return MuxResult::InvalidState;
    if (!IsUsable(format))
        return MuxResult::UnsupportedFormat;
    AVStream* stream = impl.format.newStream(impl.context, nullptr);
    if (stream == nullptr)
        return MuxResult::OutOfMemory;
    AVCodecParameters* parameters = stream->codecpar;
    parameters->codec_id = CodecId(format.codec);
    parameters->bit_rate = format.bitRate;
    if (format.IsVideo()) {
        parameters->codec_type = AVMEDIA_TYPE_VIDEO;
        parameters->width = static_cast<int>(format.width);
        parameters->height = static_cast<int>(format.height);
        if (format.frameRateNumerator > 0 && format.frameRateDenominator > 0)
            stream->avg_frame_rate = AVRational{static_cast<int>(format.frameRateNumerator),
                                                static_cast<int>(format.frameRateDenominator)};
        stream->time_base = AVRational{1, VideoTimeScale};
    } else {
        parameters->codec_type = AVMEDIA_TYPE_AUDIO;
        parameters->sample_rate = static_cast<int>(format.sampleRate);
        av_channel_layout_default(&parameters->ch_layout, static_cast<int>(format.channels));
        parameters->bits_per_raw_sample = static_cast<int>(format.bitsPerSample);
        if (format.codec == Codec::Aac)
            parameters->frame_size = AacFrameSamples;
        impl.hasFlac = impl.hasFlac || format.codec == Codec::Flac;
        stream->time_base = AVRational{1, static_cast<int>(format.sampleRate)};
    }
    if (!format.codecConfig.empty()) {
        parameters->extradata =
            static_cast<std::uint8_t*>(av_mallocz(format.codecConfig.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (parameters->extradata == nullptr)
            return MuxResult::OutOfMemory;
        std::memcpy(parameters->extradata, format.codecConfig.data(), format.codecConfig.size());
        parameters->extradata_size = static_cast<int>(format.codecConfig.size());
    }
    index = static_cast<std::uint32_t>(impl.streams.size());
    impl.streams.push_back({stream, format.IsVideo(), nullptr});
    return MuxResult::Ok;
}

MuxResult Mp4Muxer::Start() {
    Impl& impl = *m_impl;
    if (impl.started || impl.streams.empty())
        return MuxResult::InvalidState;
    for (Impl::Stream& stream : impl.streams) {
        if (stream.video && stream.stream->codecpar->extradata_size == 0) {
            stream.extractor = ParameterSetExtractor::Create(stream.stream->codecpar);
            if (!stream.extractor)
                return MuxResult::UnsupportedFormat;
        }
    }
    impl.started = true;
    return impl.AwaitingParameterSets() ? MuxResult::Ok : impl.WriteHeader();
}

MuxResult Mp4Muxer::Write(std::uint32_t stream, const Packet& packet) {
    Impl& impl = *m_impl;
    if (!impl.started || impl.finished)
        return MuxResult::InvalidState;
    if (stream >= impl.streams.size() || (packet.data == nullptr && packet.size > 0) ||
        packet.size > std::size_t(std::numeric_limits<int>::max()))
        return MuxResult::InvalidArgument;
    PacketPtr copy(av_packet_alloc());
    if (!copy || av_new_packet(copy.get(), static_cast<int>(packet.size)) < 0)
        return MuxResult::OutOfMemory;
    if (packet.size > 0)
        std::memcpy(copy->data, packet.data, packet.size);
    copy->stream_index = static_cast<int>(stream);
    copy->pts = packet.time;
    copy->duration = packet.duration;
    Impl::Stream& target = impl.streams[stream];
    // Every audio frame of these codecs decodes on its own.
    if (packet.keyFrame || !target.video)
        copy->flags |= AV_PKT_FLAG_KEY;

    if (impl.headerWritten)
        return impl.WritePacket(copy.get());

    if (target.extractor) {
        std::vector<std::uint8_t> config;
        if (target.extractor->Find(copy.get(), config)) {
            AVCodecParameters* parameters = target.stream->codecpar;
            parameters->extradata =
                static_cast<std::uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (parameters->extradata == nullptr)
                return MuxResult::OutOfMemory;
            std::memcpy(parameters->extradata, config.data(), config.size());
            parameters->extradata_size = static_cast<int>(config.size());
            target.extractor.reset();
        }
    }
    impl.pending.push_back(std::move(copy));
    return impl.AwaitingParameterSets() ? MuxResult::Ok : impl.WriteHeader();
}

MuxResult Mp4Muxer::Finish() {
    Impl& impl = *m_impl;
    if (!impl.started || impl.finished)
        return MuxResult::InvalidState;
    impl.finished = true;
    MuxResult result = MuxResult::Ok;
    if (!impl.headerWritten)
        result = impl.pending.empty() ? MuxResult::NoPackets : MuxResult::NoCodecConfig;
    else if (impl.packetsWritten == 0)
        result = MuxResult::NoPackets;
    else if (const int error = impl.format.writeTrailer(impl.context); error < 0)
        result = FromAvError(error);
    impl.pending.clear();
    const int closeError = impl.file->Close();
    if (result == MuxResult::Ok && closeError != 0)
        result = MuxResult::IoError;
    return result;
}

int Mp4Muxer::LastSystemError() const { return m_impl->file ? m_impl->file->LastError() : 0; }

} // namespace av
