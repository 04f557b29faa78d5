#pragma once
// What the libavcodec-based encoders share: result mapping, packet hand-out and the library's log level.

#include "CodecTypes.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <memory>

namespace av {

CodecStatus StatusFromAvError(int error);

// libavcodec's own chatter (encoder banners) stays out of the process's standard error.
void QuietLibraryLog();

struct CodecContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

// Takes the next packet of the context into `packet` and hands it to the consumer.
CodecStatus ReceivePacket(AVCodecContext* context, AVPacket* packet, const PacketConsumer& consumer);

} // namespace av
