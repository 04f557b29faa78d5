#pragma once
// Class ids of the platform's own transforms, for CoCreateInstance. The video processor and the audio
// resampler answer to their Windows class ids ; so do the H.264, AAC and FLAC encoders. The
// HEVC encoder has no Windows counterpart and a class id of its own.

#include <guiddef.h>

DEFINE_GUID(CLSID_CMSH264EncoderMFT, 0x6ca50344, 0x051a, 0x4ded, 0x97, 0x79, 0xa4, 0x33, 0x05, 0x16, 0x5e,
            0x35);
DEFINE_GUID(CLSID_AACMFTEncoder, 0x93af0c51, 0x2275, 0x45d2, 0xa3, 0x5b, 0xf2, 0xba, 0x21, 0xca, 0xed, 0x00);
DEFINE_GUID(CLSID_CMSFLACEncMFT, 0x128509e9, 0xc44e, 0x45dc, 0x95, 0xe9, 0xc2, 0x55, 0xb8, 0xf4, 0x66, 0xa6);
DEFINE_GUID(CLSID_PlatformHevcEncoderMFT, 0x45861dc0, 0x4798, 0x4c2e, 0xba, 0x2a, 0x73, 0xe0, 0xa4, 0x95,
            0xdf, 0xd4);
DEFINE_GUID(CLSID_VideoProcessorMFT, 0x88753b26, 0x5b24, 0x49bd, 0xb2, 0xe7, 0x0c, 0x44, 0x5c, 0x78, 0xc9,
            0x82);
DEFINE_GUID(CLSID_CResamplerMediaObject, 0xf447b69e, 0x1884, 0x4a7e, 0x80, 0x55, 0x34, 0x6f, 0x74, 0xd6, 0xed,
            0xb3);
inline constexpr const CLSID& CLSID_AudioResamplerMediaObject = CLSID_CResamplerMediaObject;

// Makes the transforms above creatable through CoCreateInstance; every program that names one of them
// registers them before main.
bool RegisterPlatformTransformClasses();
inline const bool g_platformTransformClassesRegistered = RegisterPlatformTransformClasses();
