#pragma once
// The settings of one capture session, filled by VideoCapture and read by both pipelines.

#include "Codec/CodecKinds.h"
#include "EncoderSelection.h"
#include "VideoCaptureControl.h"
#include <winuser.h>

#include <cstdint>
#include <functional>

struct CaptureOptions {
    // Called after a change of the captured size has been logged, or with the unchanged size when the capture
    // ended by itself; may be empty.
    using ResolutionCallback = std::function<void(std::int32_t width, std::int32_t height)>;

    HMONITOR monitor = nullptr; // null when a window is given
    HWND window = nullptr;
    std::int32_t bitrate = 0; // bits per second, before a pipeline's share
    std::int32_t frameRate = 60;
    // The largest encoded size; the captured size is scaled down to fit it unless it is kept.
    std::uint32_t outputWidth = 3840;
    std::uint32_t outputHeight = 2160;
    VideoCodecChoice codec = VideoCodecChoice::H264;
    std::uint8_t includeCustomCodecs = 0;
    // Handed to the codec library's transforms through the encoder query.
    std::int8_t codecPreset = 0;
    std::uint8_t codecLongGop = 0;
    std::uint16_t codecOptionValue = 0;
    AudioCodecKind audioCodec = AudioCodecKind::Aac;
    std::int32_t sliceMode = 0;
    std::uint8_t keepCaptureSize = 0;
    // 1: encode at exactly the output size, the picture fitted inside it (never scaled up), centred on black.
    std::uint8_t fixedOutputSize = 0;
    std::uint8_t hideCursor = 0;
    std::int32_t captureMethod = 2; // 2 graphics capture, other desktop duplication
    std::uint8_t audioFlag = 1;     // produce silence while nothing plays
    AudioChoice audio;
    ResolutionCallback resolutionCallback;
    // Where the video encoders are looked for.
    TransformEnumerator enumerateTransforms = MFTEnumEx;

    // The frame rate the pipelines run at: 60 when none is given.
    std::uint32_t EffectiveFrameRate() const {
        return frameRate > 0 ? static_cast<std::uint32_t>(frameRate) : 60;
    }
};
