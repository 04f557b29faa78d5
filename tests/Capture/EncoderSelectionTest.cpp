// Encoder search and choice over registries of stand-in transforms: the vendor filter and its log lines,
// the order of preference, the AMD HEVC rule, the failures, and the media type names of the log.

#include "Capture/EncoderSelection.h"
#include "Capture/MediaTypeNames.h"
#include "LogCapture.h"
#include "Util/ComException.h"
#include "platform/mf/AudioEncoderTransform.h"
#include "platform/mf/TransformRegistry.h"
#include "platform/mf/VideoEncoderTransform.h"
#include "platform/mf/VideoProcessorTransform.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

const MFT_REGISTER_TYPE_INFO Argb{MFMediaType_Video, MFVideoFormat_ARGB32};
const MFT_REGISTER_TYPE_INFO Nv12{MFMediaType_Video, MFVideoFormat_NV12};

// A video encoder class as a vendor would register it. The transform behind it is one of the platform's:
// the selection reads only its attributes (the video processor's say it is Direct3D 11 aware).
TransformClass VideoEncoder(const wchar_t* name, UINT32 kind, const wchar_t* vendor,
                            std::vector<MFT_REGISTER_TYPE_INFO> inputs, REFGUID output = MFVideoFormat_H264,
                            bool d3d11Aware = false) {
    TransformClass encoder{GUID_NULL,
                           MFT_CATEGORY_VIDEO_ENCODER,
                           kind,
                           name,
                           std::move(inputs),
                           {{MFMediaType_Video, output}},
                           vendor,
                           {},
                           {}};
    if (d3d11Aware)
        encoder.create = &VideoProcessorTransform::Create;
    else
        encoder.create = [](IMFTransform** transform) {
            return VideoEncoderTransform::Create(av::Codec::H264, transform);
        };
    return encoder;
}

EncoderSelection Over(const TransformRegistry& registry) {
    return EncoderSelection([&registry](GUID category, UINT32 flags, const MFT_REGISTER_TYPE_INFO* input,
                                        const MFT_REGISTER_TYPE_INFO* output, IMFActivate*** activates,
                                        UINT32* count) {
        return registry.Enumerate(category, flags, input, output, activates, count);
    });
}

VideoCodecOptions Options(VideoCodecChoice codec, UINT32 vendor = 0) {
    VideoCodecOptions options;
    options.codec = codec;
    options.deviceVendor = vendor;
    return options;
}

ComPtr<IMFMediaType> Pcm(UINT32 rate = 48000, UINT32 channels = 2) {
    ComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, rate);
    type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, channels);
    type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, 2 * channels);
    type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 2 * channels * rate);
    return type;
}

} // namespace

TEST(EncoderSearch, KeepsHardwareOfTheCaptureVendorAndEverySoftwareEncoder) {
    LogCapture log;
    const TransformRegistry registry({
        VideoEncoder(L"Intel Encoder", MFT_ENUM_FLAG_HARDWARE, L"VEN_8086", {Nv12}),
        VideoEncoder(L"Nvidia Encoder", MFT_ENUM_FLAG_HARDWARE, L"VEN_10DE", {Argb, Nv12}, MFVideoFormat_H264,
                     true),
        VideoEncoder(L"Software Encoder", MFT_ENUM_FLAG_SYNCMFT, L"", {Nv12}),
    });
    VideoCodecChoice codec = VideoCodecChoice::H264;
    const std::vector<EncoderInfo> found =
        Over(registry).SearchVideo(Options(VideoCodecChoice::H264, 0x10DE), codec);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, L"Nvidia Encoder");
    EXPECT_EQ(found[0].vendorId, 0x10DEu);
    EXPECT_TRUE(found[0].hardware);
    EXPECT_TRUE(found[0].async);
    EXPECT_TRUE(found[0].d3d11Aware);
    EXPECT_EQ(found[0].output, MFVideoFormat_H264);
    EXPECT_EQ(found[1].name, L"Software Encoder");
    EXPECT_FALSE(found[1].hardware);
    EXPECT_NE(found[1].mft, nullptr);
    ComPtr<IMFAttributes> attributes;
    ASSERT_EQ(found[1].mft->GetAttributes(&attributes), S_OK);
    EXPECT_EQ(MFGetAttributeUINT32(attributes.Get(), MF_LOW_LATENCY, 0), 1u);

    const std::vector<std::string> expected = {
        "INFO Enumerating MFTS: NullGUID -> MFVideoFormat_H264",
        "INFO   Intel Encoder - VID:8086 HW:1 D3D11:0 Inputs:[MFVideoFormat_NV12] Match:0",
        "INFO   Nvidia Encoder - VID:10DE HW:1 D3D11:1 Inputs:[MFVideoFormat_ARGB32, MFVideoFormat_NV12] "
        "Match:1",
        "INFO   Software Encoder - VID:0 HW:0 D3D11:0 Inputs:[MFVideoFormat_NV12] Match:1",
    };
    EXPECT_EQ(log.Lines(), expected);
}

TEST(EncoderSearch, AnUnknownCaptureVendorKeepsEveryHardwareEncoder) {
    LogCapture log;
    const TransformRegistry registry(
        {VideoEncoder(L"Intel Encoder", MFT_ENUM_FLAG_HARDWARE, L"VEN_8086", {Nv12})});
    VideoCodecChoice codec = VideoCodecChoice::H264;
    EXPECT_EQ(Over(registry).SearchVideo(Options(VideoCodecChoice::H264, 0), codec).size(), 1u);
}

TEST(EncoderSearch, SkipsTransformsThatFailToActivate) {
    LogCapture log;
    TransformClass broken = VideoEncoder(L"Broken Encoder", MFT_ENUM_FLAG_SYNCMFT, L"", {Nv12});
    broken.create = [](IMFTransform** transform) {
        *transform = nullptr;
        return E_FAIL;
    };
    const TransformRegistry registry(
        {broken, VideoEncoder(L"Good Encoder", MFT_ENUM_FLAG_SYNCMFT, L"", {Nv12})});
    VideoCodecChoice codec = VideoCodecChoice::H264;
    const std::vector<EncoderInfo> found = Over(registry).SearchVideo(Options(VideoCodecChoice::H264), codec);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, L"Good Encoder");
    EXPECT_TRUE(log.Contains("WARN   Broken Encoder - failed to activate: 0x80004005"));
}

TEST(EncoderSearch, TheSystemsOwnCodecsComeFirstWhenAskedFor) {
    LogCapture log;
    const TransformRegistry registry({VideoEncoder(L"Software Encoder", MFT_ENUM_FLAG_SYNCMFT, L"", {Nv12})});
    int offered = 0;
    GUID ownOutput = MFVideoFormat_H264;
    EncoderSelection selection(
        [&registry](GUID category, UINT32 flags, const MFT_REGISTER_TYPE_INFO* input,
                    const MFT_REGISTER_TYPE_INFO* output, IMFActivate*** activates, UINT32* count) {
            return registry.Enumerate(category, flags, input, output, activates, count);
        },
        [&](const EncoderQuery& query, const std::function<bool(EncoderInfo &&)>& callback) {
            ++offered;
            if (query.outputSubtype != ownOutput)
                return;
            EncoderInfo own;
            own.name = L"Own Encoder";
            own.inputs = {MFVideoFormat_NV12};
            own.output = query.outputSubtype;
            own.hardware = true;
            callback(std::move(own));
        });
    VideoCodecOptions options = Options(VideoCodecChoice::H264);
    VideoCodecChoice codec = VideoCodecChoice::H264;
    EXPECT_EQ(selection.SearchVideo(options, codec).size(), 1u);
    EXPECT_EQ(offered, 0);
    options.includeCustomCodecs = 1;
    const std::vector<EncoderInfo> found = selection.SearchVideo(options, codec);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, L"Own Encoder");
    EXPECT_EQ(offered, 1);
    EXPECT_EQ(codec, VideoCodecChoice::H264);

    // Own encoders that make only HEVC turn the H.264 choice into HEVC; none at all leave it as it was.
    ownOutput = MFVideoFormat_HEVC;
    const std::vector<EncoderInfo> hevc = selection.SearchVideo(options, codec);
    ASSERT_EQ(hevc.size(), 1u);
    EXPECT_EQ(hevc[0].output, MFVideoFormat_HEVC);
    EXPECT_EQ(codec, VideoCodecChoice::Hevc);
    ownOutput = GUID_NULL;
    codec = VideoCodecChoice::H264;
    const std::vector<EncoderInfo> platform = selection.SearchVideo(options, codec);
    ASSERT_EQ(platform.size(), 1u);
    EXPECT_EQ(platform[0].name, L"Software Encoder");
    EXPECT_EQ(codec, VideoCodecChoice::H264);
}

TEST(VideoEncoderChoice, PrefersBgraPerEncoderButTheListOrderFirst) {
    LogCapture log;
    const TransformRegistry nv12First({
        VideoEncoder(L"First Encoder", MFT_ENUM_FLAG_SYNCMFT, L"", {Nv12}),
        VideoEncoder(L"Second Encoder", MFT_ENUM_FLAG_SYNCMFT, L"", {Argb, Nv12}),
    });
    GUID input = GUID_NULL;
    VideoCodecKind kind = VideoCodecKind::Hevc;
    EXPECT_EQ(Over(nv12First).ChooseVideo(Options(VideoCodecChoice::H264), input, kind).name,
              L"First Encoder");
    EXPECT_EQ(input, MFVideoFormat_NV12);
    EXPECT_EQ(kind, VideoCodecKind::H264);
    EXPECT_TRUE(
        log.Contains("INFO Selected video encoder: First Encoder [MFVideoFormat_NV12->MFVideoFormat_H264]"));

    const TransformRegistry both({VideoEncoder(L"Both Encoder", MFT_ENUM_FLAG_SYNCMFT, L"", {Nv12, Argb})});
    EXPECT_EQ(Over(both).ChooseVideo(Options(VideoCodecChoice::H264), input, kind).name, L"Both Encoder");
    EXPECT_EQ(input, MFVideoFormat_ARGB32);
}

TEST(VideoEncoderChoice, AnAmdHevcEncoderIsGivenNv12) {
    LogCapture log;
    const TransformRegistry registry({VideoEncoder(L"AMD HEVC Encoder", MFT_ENUM_FLAG_HARDWARE, L"VEN_1002",
                                                   {Argb, Nv12}, MFVideoFormat_HEVC, true)});
    GUID input = GUID_NULL;
    VideoCodecKind kind = VideoCodecKind::H264;
    const EncoderInfo chosen =
        Over(registry).ChooseVideo(Options(VideoCodecChoice::Hevc, 0x1002), input, kind);
    EXPECT_EQ(chosen.name, L"AMD HEVC Encoder");
    EXPECT_EQ(input, MFVideoFormat_NV12);
    EXPECT_EQ(kind, VideoCodecKind::Hevc);
    EXPECT_TRUE(
        log.Contains("INFO MF doesn't perform ARGB->HEVC encode on AMD hardware with current parameters; "
                     "falling back to using NV12 instead."));
    EXPECT_TRUE(log.Contains(
        "INFO Selected video encoder: AMD HEVC Encoder [MFVideoFormat_NV12->MFVideoFormat_HEVC]"));
}

TEST(VideoEncoderChoice, AutomaticFallsBackToH264WithoutHardwareHevc) {
    LogCapture log;
    const TransformRegistry registry({
        VideoEncoder(L"Software HEVC", MFT_ENUM_FLAG_SYNCMFT, L"", {Nv12}, MFVideoFormat_HEVC),
        VideoEncoder(L"Software H.264", MFT_ENUM_FLAG_SYNCMFT, L"", {Nv12}),
    });
    GUID input = GUID_NULL;
    VideoCodecKind kind = VideoCodecKind::Hevc;
    EXPECT_EQ(Over(registry).ChooseVideo(Options(VideoCodecChoice::Automatic), input, kind).name,
              L"Software H.264");
    EXPECT_EQ(kind, VideoCodecKind::H264);
}

TEST(VideoEncoderChoice, FailsWhenNothingFits) {
    LogCapture log;
    const TransformRegistry registry({VideoEncoder(L"Software Encoder", MFT_ENUM_FLAG_SYNCMFT, L"", {Nv12})});
    GUID input = GUID_NULL;
    VideoCodecKind kind = VideoCodecKind::Hevc;
    try {
        // A value outside the choices.
        Over(registry).ChooseVideo(Options(static_cast<VideoCodecChoice>(3)), input, kind);
        FAIL() << "codec 3 chose an encoder";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "No suitable video encoder found");
    }
    // An encoder that takes neither BGRA nor NV12 does not fit either.
    const TransformRegistry i420Only({VideoEncoder(L"Planar Encoder", MFT_ENUM_FLAG_SYNCMFT, L"",
                                                   {{MFMediaType_Video, MFVideoFormat_H265}})});
    EXPECT_THROW(Over(i420Only).ChooseVideo(Options(VideoCodecChoice::H264), input, kind),
                 std::runtime_error);
}

TEST(AudioEncoderChoice, SetsBothTypesOnThePlatformsAacEncoder) {
    LogCapture log;
    const EncoderSelection selection;
    ComPtr<IMFTransform> encoder = selection.ChooseAudio(Pcm().Get(), AudioCodecKind::Aac);
    ASSERT_NE(encoder, nullptr);
    ComPtr<IMFMediaType> output;
    ASSERT_EQ(encoder->GetOutputCurrentType(0, &output), S_OK);
    GUID subtype = GUID_NULL;
    output->GetGUID(MF_MT_SUBTYPE, &subtype);
    EXPECT_EQ(subtype, MFAudioFormat_AAC);
    EXPECT_EQ(MFGetAttributeUINT32(output.Get(), MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 0), 24000u);
    EXPECT_TRUE(
        log.Contains("INFO Selected audio encoder: AAC Encoder [MFAudioFormat_PCM->MFAudioFormat_AAC]"));

    ComPtr<IMFTransform> flac = selection.ChooseAudio(Pcm().Get(), AudioCodecKind::Flac);
    ASSERT_EQ(flac->GetOutputCurrentType(0, &output), S_OK);
    output->GetGUID(MF_MT_SUBTYPE, &subtype);
    EXPECT_EQ(subtype, MFAudioFormat_FLAC);
}

TEST(AudioEncoderChoice, FailsWithoutAnEncoderForTheInputAndOnUnusableTypes) {
    LogCapture log;
    // The platform's encoders take 16-bit PCM, not float.
    ComPtr<IMFMediaType> floating = Pcm();
    floating->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_Float);
    try {
        EncoderSelection().ChooseAudio(floating.Get(), AudioCodecKind::Aac);
        FAIL() << "an encoder was chosen for float input";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "No audio encoders found");
    }
    EXPECT_TRUE(log.Contains("INFO   AAC Encoder - VID:0 HW:0 D3D11:0 Inputs:[MFAudioFormat_PCM] Match:0"));

    ComPtr<IMFMediaType> noRate;
    MFCreateMediaType(&noRate);
    noRate->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    try {
        EncoderSelection().ChooseAudio(noRate.Get(), AudioCodecKind::Aac);
        FAIL() << "a type without a rate was taken";
    } catch (const ComException& error) {
        EXPECT_STREQ(error.what(), "input->GetUINT32( MF_MT_AUDIO_SAMPLES_PER_SECOND, &sampleRate ) failed");
        EXPECT_EQ(error.Error(), MF_E_ATTRIBUTENOTFOUND);
    }
    // A rate the encoder does not take ends in the failure of setting its input type.
    EXPECT_THROW(EncoderSelection().ChooseAudio(Pcm(47000).Get(), AudioCodecKind::Aac), ComException);
}

TEST(MediaTypeNames, NamesTheSymbolsTheLogUses) {
    EXPECT_STREQ(MediaTypeName(GUID_NULL), L"NullGUID");
    EXPECT_STREQ(MediaTypeName(MFVideoFormat_NV12), L"MFVideoFormat_NV12");
    EXPECT_STREQ(MediaTypeName(MFAudioFormat_AAC), L"MFAudioFormat_AAC");
    EXPECT_STREQ(MediaTypeName(MF_MT_FRAME_SIZE), L"MF_MT_FRAME_SIZE");
    EXPECT_STREQ(MediaTypeName(MFMediaType_Video), L"MFMediaType_Video");
    EXPECT_STREQ(MediaTypeName(GuidFromString("01234567-89ab-cdef-0123-456789abcdef")), L"(Unknown)");
    EXPECT_EQ(MediaTypeNameList({}), L"[]");
}
