#pragma once
// Media types as the capture's encoders report their output: H.264/HEVC video, AAC (with the Windows
// HEAACWAVEINFO user data) and FLAC audio.

#include "TestEncoders.h"

#include <mfapi.h>
#include <wrl/client.h>

#include <vector>

// sequenceHeader empty: the type carries no MF_MT_MPEG_SEQUENCE_HEADER.
ComPtr<IMFMediaType> MakeVideoType(const VideoSettings& settings,
                                   const std::vector<std::uint8_t>& sequenceHeader = {});
ComPtr<IMFMediaType> MakeAacType(int sampleRate, int channels,
                                 const std::vector<std::uint8_t>& audioSpecificConfig);
ComPtr<IMFMediaType> MakeFlacType(int sampleRate, int channels, const std::vector<std::uint8_t>& streamInfo);
