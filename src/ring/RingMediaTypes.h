#pragma once
// The media types of a ring's two streams, rebuilt from the recorded data when the encoders' own types are
// gone (a recorder that was killed): video from a key frame, audio as the recorder encodes it.

#include "KeyFrameProbe.h"

#include <mfobjects.h>
#include <wrl/client.h>

// Throws ComException when a media type cannot be built.
ComPtr<IMFMediaType> CreateVideoTypeFromKeyFrame(const KeyFrameInfo& keyFrame);
// AAC-LC at 48 kHz, stereo, raw frames, with the HEAACWAVEINFO user data of the platform's AAC encoder.
ComPtr<IMFMediaType> CreateRecordedAudioType();
