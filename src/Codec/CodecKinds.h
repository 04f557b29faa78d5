#pragma once
// The codecs a capture asks for and the ones its encoders make.

// Automatic takes HEVC where a hardware encoder makes it, else H.264.
enum class VideoCodecChoice { Automatic, H264, Hevc };

// What the chosen video encoder makes.
enum class VideoCodecKind { H264, Hevc };

enum class AudioCodecKind { Aac, Flac };
