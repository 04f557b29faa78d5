#pragma once
// Real encoders for test content (libavcodec): H.264 or HEVC video of the synthetic pattern, and AAC or FLAC
// audio of a tone, configured the way the capture's encoders are (low latency, fixed GOP, no reordering).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct EncodedPacket {
    enum Kind { Video = 0, Audio = 1 };
    Kind kind = Video;
    std::vector<std::uint8_t> data;
    std::int64_t time = 0;     // 100-ns units from the capture start
    std::int64_t duration = 0; // 100-ns units
    bool cleanPoint = false;
    int frame = 0; // source frame number (video) or audio frame number
};

struct VideoSettings {
    std::string encoder = "libx264"; // or "libx265"
    int width = 1280;
    int height = 720;
    int frameRate = 60;
    int gop = 120;
    std::int64_t bitRate = 0; // 0: constant quality good enough for PSNR checks
};

class VideoEncoder {
public:
    explicit VideoEncoder(const VideoSettings& settings);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Encodes pattern frame `index`; the packets that came out (Annex B, parameter sets at each key frame).
    std::vector<EncodedPacket> Encode(int index);
    std::vector<EncodedPacket> Flush();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

struct AudioSettings {
    std::string encoder = "aac"; // or "flac"
    int sampleRate = 48000;
    int channels = 2;
    std::int64_t bitRate = 192000;
};

class AudioEncoder {
public:
    explicit AudioEncoder(const AudioSettings& settings);
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    int FrameSamples() const;
    // AAC: the AudioSpecificConfig; FLAC: the STREAMINFO block.
    std::vector<std::uint8_t> CodecConfig() const;
    // Encodes the next frame of a 440 Hz tone; packets get consecutive frame times.
    std::vector<EncodedPacket> EncodeNext();
    std::vector<EncodedPacket> Flush();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Video and audio of `seconds` seconds in the order a capture delivers them: by sample time, audio first
// when both fall on the same time.
std::vector<EncodedPacket> EncodeCapture(const VideoSettings& video, const AudioSettings& audio,
                                         double seconds);
