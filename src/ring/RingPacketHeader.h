#pragma once
// One record of a ring data file: this 16-byte header, then `size` payload bytes. Index entries copy it.

#include <bit>
#include <cstdint>
#include <type_traits>

struct RingPacketHeader {
    uint32_t timestamp; // 90 kHz ticks on the ring's continuous timeline
    uint32_t duration;  // 90 kHz ticks
    uint32_t size;      // payload bytes that follow the header
    uint32_t flags;
};

// The files hold the header's bytes exactly as laid out here: four little-endian u32, no padding.
static_assert(sizeof(RingPacketHeader) == 16);
static_assert(std::is_trivially_copyable_v<RingPacketHeader>);
static_assert(std::endian::native == std::endian::little);

// The stream a record belongs to, held in the low bits of its flags (RingStreamKindMask).
enum class RingStreamKind : uint32_t { Video = 0, Audio = 1 };

constexpr uint32_t RingStreamKindMask = 0x07;
constexpr uint32_t RingFlagAudio = 0x08;
constexpr uint32_t RingFlagKeyFrame = 0x10;

// The flags of a record: its stream's kind, the audio flag on audio records, and the key-frame flag.
constexpr uint32_t RingPacketFlags(RingStreamKind kind, bool keyFrame) {
    return static_cast<uint32_t>(kind) | (kind == RingStreamKind::Audio ? RingFlagAudio : 0) |
           (keyFrame ? RingFlagKeyFrame : 0);
}

constexpr uint32_t RingTicksPerSecond = 90000;

// Only video key frames are indexed and may begin a segment; an audio clean point does not count.
constexpr bool IsRingVideoKeyFrame(uint32_t flags) {
    return (flags & (RingStreamKindMask | RingFlagAudio | RingFlagKeyFrame)) == RingFlagKeyFrame;
}
