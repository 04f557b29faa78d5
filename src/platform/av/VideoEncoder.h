#pragma once
// H.264 and HEVC encoding of NV12 frames through libavcodec (libx264, libx265): no B-frames, so packets come
// out in input order; parameter sets before every key frame; key frames only where the GOP or the caller
// asks for them.

#include "CodecTypes.h"
#include "platform/yuv/ImageViews.h"

#include <memory>
#include <string>
#include <vector>

namespace av {

struct VideoEncoderSettings {
    static constexpr std::uint32_t InfiniteGop = 0xFFFFFFFF;

    Codec codec = Codec::H264;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t frameRateNumerator = 0;
    std::uint32_t frameRateDenominator = 1;
    // Frames from one key frame to the next; 0: the encoder's default; InfiniteGop: only the first.
    std::uint32_t gopSize = 0;
    // Bits per second, kept within a one-second buffer; 0: constant quality.
    std::uint32_t bitRate = 0;
    // No frame is held back for look-ahead or frame threads.
    bool lowLatency = false;
    // H.264 only: arithmetic entropy coding.
    bool cabac = true;
    // H.264 only: 66 baseline, 77 main, 100 high.
    std::uint32_t h264Profile = 100;
    // Macroblock (16-row) rows per slice; 0: the encoder's own slicing.
    std::uint32_t sliceRows = 0;
    // The colour matrix and range the frames were made with; signalled in the stream.
    bool bt709 = false;
    bool fullRange = false;
    // A VA-API render node ("/dev/dri/renderD128") to encode on; empty for the software encoders.
    std::string device;
};

class VideoEncoder {
public:
    static CodecStatus Open(const VideoEncoderSettings& settings, std::unique_ptr<VideoEncoder>& encoder);
    // Whether the settings open and one picture encodes (how a render node is found to work).
    static bool Works(const VideoEncoderSettings& settings);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // The stream's parameter sets in Annex B form, as repeated before every key frame.
    const std::vector<std::uint8_t>& ParameterSets() const;

    // Frames are numbered by the caller (pts); packets carry the number of their frame. The frame memory is
    // read in place: `keepAlive` is held until the encoder no longer needs it. Again: hand out the waiting
    // packets first.
    CodecStatus Encode(const yuv::Nv12View& frame, std::int64_t pts, bool keyFrame,
                       std::shared_ptr<const void> keepAlive);
    // No more frames: every held-back packet becomes available, then EndOfStream.
    CodecStatus Drain();
    // Hands the next packet to the consumer; Again when none is ready.
    CodecStatus Receive(const PacketConsumer& consumer);

    struct Impl;

private:
    explicit VideoEncoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace av
