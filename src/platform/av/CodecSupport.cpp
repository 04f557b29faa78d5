#include "CodecSupport.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cerrno>
#include <mutex>

namespace av {

CodecStatus StatusFromAvError(int error) {
    if (error >= 0)
        return CodecStatus::Ok;
    if (error == AVERROR(EAGAIN))
        return CodecStatus::Again;
    if (error == AVERROR_EOF)
        return CodecStatus::EndOfStream;
    if (error == AVERROR(ENOMEM))
        return CodecStatus::OutOfMemory;
    if (error == AVERROR(EINVAL))
        return CodecStatus::InvalidArgument;
    if (error == AVERROR(ENOSYS) || error == AVERROR_ENCODER_NOT_FOUND || error == AVERROR_EXPERIMENTAL ||
        error == AVERROR_PATCHWELCOME)
        return CodecStatus::Unsupported;
    return CodecStatus::Failed;
}

void QuietLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() > AV_LOG_ERROR)
            av_log_set_level(AV_LOG_ERROR);
    });
}

CodecStatus ReceivePacket(AVCodecContext* context, AVPacket* packet, const PacketConsumer& consumer) {
    const int result = avcodec_receive_packet(context, packet);
    if (result < 0)
        return StatusFromAvError(result);
    consumer({packet->data, static_cast<std::size_t>(packet->size), packet->pts, packet->duration,
              (packet->flags & AV_PKT_FLAG_KEY) != 0});
    av_packet_unref(packet);
    return CodecStatus::Ok;
}

} // namespace av
