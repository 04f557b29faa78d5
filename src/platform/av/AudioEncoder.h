#pragma once
// AAC and FLAC encoding of interleaved 16-bit PCM through libavcodec. Input of any length is cut into the
// codec's frames; packets carry the position of their first sample.

#include "CodecTypes.h"

#include <memory>
#include <vector>

namespace av {

struct AudioEncoderSettings {
    Codec codec = Codec::Aac;
    std::uint32_t sampleRate = 0;
    std::uint32_t channels = 0;
    std::uint32_t bitRate = 0; // bits per second; AAC only
};

class AudioEncoder {
public:
    static CodecStatus Open(const AudioEncoderSettings& settings, std::unique_ptr<AudioEncoder>& encoder);
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    // AAC: the AudioSpecificConfig; FLAC: the STREAMINFO block.
    const std::vector<std::uint8_t>& CodecConfig() const;
    // Samples per channel in a full packet.
    int FrameSamples() const;

    // Appends `frames` interleaved sample frames; every completed codec frame is encoded and its packets
    // queued. Packet positions count sample frames from the first one given.
    CodecStatus Encode(const std::int16_t* samples, int frames);
    // Encodes what is left (a shorter last frame), then makes every packet available; EndOfStream after.
    CodecStatus Drain();
    // Hands the next packet to the consumer, its position taken back by the codec's start-up delay so that
    // the first packet starts at 0; Again when none is ready.
    CodecStatus Receive(const PacketConsumer& consumer);

    struct Impl;

private:
    explicit AudioEncoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace av
