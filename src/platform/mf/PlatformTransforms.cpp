// The platform's transforms and MFTEnumEx over them.

#include "AudioEncoderTransform.h"
#include "AudioResamplerTransform.h"
#include "HardwareEncoders.h"
#include "TransformRegistry.h"
#include "VideoEncoderTransform.h"
#include "VideoProcessorTransform.h"
#include "platform/win/ClassRegistry.h"
#include <combaseapi.h>
#include <mfapi.h>
#include <wmcodecdsp.h>

namespace {

MFT_REGISTER_TYPE_INFO Video(REFGUID subtype) { return {MFMediaType_Video, subtype}; }
MFT_REGISTER_TYPE_INFO Audio(REFGUID subtype) { return {MFMediaType_Audio, subtype}; }

std::vector<TransformClass> PlatformClasses() {
    // Hardware first, as MFTEnumEx lists them; without a render node that encodes there are none.
    std::vector<TransformClass> classes = HardwareEncoderClasses(EnumerateDrmDevices(), &VaapiEncoderWorks);
    classes.push_back({CLSID_VideoProcessorMFT,
                       MFT_CATEGORY_VIDEO_PROCESSOR,
                       MFT_ENUM_FLAG_SYNCMFT,
                       L"Video Processor",
                       {Video(MFVideoFormat_ARGB32)},
                       {Video(MFVideoFormat_NV12), Video(MFVideoFormat_ARGB32)},
                       {},
                       {},
                       &VideoProcessorTransform::Create});
    classes.push_back({CLSID_AudioResamplerMediaObject,
                       MFT_CATEGORY_AUDIO_EFFECT,
                       MFT_ENUM_FLAG_SYNCMFT,
                       L"Audio Resampler",
                       {Audio(MFAudioFormat_Float), Audio(MFAudioFormat_PCM)},
                       {Audio(MFAudioFormat_PCM), Audio(MFAudioFormat_Float)},
                       {},
                       {},
                       &AudioResamplerTransform::Create});
    classes.push_back({CLSID_CMSH264EncoderMFT,
                       MFT_CATEGORY_VIDEO_ENCODER,
                       MFT_ENUM_FLAG_SYNCMFT,
                       L"H.264 Encoder (libx264)",
                       {Video(MFVideoFormat_NV12)},
                       {Video(MFVideoFormat_H264)},
                       {},
                       {},
                       [](IMFTransform** transform) {
                           return VideoEncoderTransform::Create(av::Codec::H264, transform);
                       }});
    classes.push_back({CLSID_PlatformHevcEncoderMFT,
                       MFT_CATEGORY_VIDEO_ENCODER,
                       MFT_ENUM_FLAG_SYNCMFT,
                       L"HEVC Encoder (libx265)",
                       {Video(MFVideoFormat_NV12)},
                       {Video(MFVideoFormat_HEVC)},
                       {},
                       {},
                       [](IMFTransform** transform) {
                           return VideoEncoderTransform::Create(av::Codec::Hevc, transform);
                       }});
    classes.push_back({CLSID_AACMFTEncoder,
                       MFT_CATEGORY_AUDIO_ENCODER,
                       MFT_ENUM_FLAG_SYNCMFT,
                       L"AAC Encoder",
                       {Audio(MFAudioFormat_PCM)},
                       {Audio(MFAudioFormat_AAC)},
                       {},
                       {},
                       [](IMFTransform** transform) {
                           return AudioEncoderTransform::Create(av::Codec::Aac, transform);
                       }});
    classes.push_back({CLSID_CMSFLACEncMFT,
                       MFT_CATEGORY_AUDIO_ENCODER,
                       MFT_ENUM_FLAG_SYNCMFT,
                       L"FLAC Encoder",
                       {Audio(MFAudioFormat_PCM)},
                       {Audio(MFAudioFormat_FLAC)},
                       {},
                       {},
                       [](IMFTransform** transform) {
                           return AudioEncoderTransform::Create(av::Codec::Flac, transform);
                       }});
    return classes;
}

} // namespace

const TransformRegistry& TransformRegistry::Platform() {
    static const TransformRegistry registry(PlatformClasses());
    return registry;
}

bool RegisterPlatformTransformClasses() {
    SetPlatformClassLookup([](REFCLSID clsid, REFIID riid, void** ppv) {
        ComPtr<IMFTransform> transform;
        const HRESULT hr = TransformRegistry::Platform().Create(clsid, &transform);
        return SUCCEEDED(hr) ? transform->QueryInterface(riid, ppv) : hr;
    });
    return true;
}

HRESULT MFTEnumEx(GUID guidCategory, UINT32 Flags, const MFT_REGISTER_TYPE_INFO* pInputType,
                  const MFT_REGISTER_TYPE_INFO* pOutputType, IMFActivate*** pppMFTActivate,
                  UINT32* pnumMFTActivate) {
    return TransformRegistry::Platform().Enumerate(guidCategory, Flags, pInputType, pOutputType,
                                                   pppMFTActivate, pnumMFTActivate);
}
