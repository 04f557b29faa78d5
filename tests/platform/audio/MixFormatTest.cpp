#include "platform/audio/MixFormat.h"

#include <gtest/gtest.h>

namespace {

pulse::SinkFormat Output(std::uint32_t rate, std::uint32_t channels, std::uint32_t mask) {
    pulse::SinkFormat format;
    format.monitorSource = "out.monitor";
    format.samplesPerSecond = rate;
    format.channels = channels;
    format.channelMask = mask;
    return format;
}

TEST(MixFormatTest, DescribesFloatSamplesAtTheOutputsRateAndChannels) {
    const WAVEFORMATEXTENSIBLE mix = MixFormatOf(Output(48000, 2, KSAUDIO_SPEAKER_STEREO));
    EXPECT_EQ(mix.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(mix.Format.nChannels, 2);
    EXPECT_EQ(mix.Format.nSamplesPerSec, 48000u);
    EXPECT_EQ(mix.Format.wBitsPerSample, 32);
    EXPECT_EQ(mix.Format.nBlockAlign, 8);
    EXPECT_EQ(mix.Format.nAvgBytesPerSec, 384000u);
    EXPECT_EQ(mix.Format.cbSize, 22);
    EXPECT_EQ(mix.Samples.wValidBitsPerSample, 32);
    EXPECT_EQ(mix.dwChannelMask, KSAUDIO_SPEAKER_STEREO);
    EXPECT_EQ(mix.SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);

    const WAVEFORMATEXTENSIBLE surround = MixFormatOf(Output(44100, 6, 0x3F));
    EXPECT_EQ(surround.Format.nBlockAlign, 24);
    EXPECT_EQ(surround.Format.nAvgBytesPerSec, 44100u * 24);
    EXPECT_EQ(surround.dwChannelMask, 0x3Fu);
}

TEST(MixFormatTest, StreamsOpenInTheMixFormatOnly) {
    const WAVEFORMATEXTENSIBLE mix = MixFormatOf(Output(48000, 2, KSAUDIO_SPEAKER_STEREO));
    EXPECT_EQ(CheckStreamFormat(mix.Format, mix), S_OK);

    WAVEFORMATEX plainFloat = mix.Format;
    plainFloat.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    plainFloat.cbSize = 0;
    EXPECT_EQ(CheckStreamFormat(plainFloat, mix), S_OK);

    WAVEFORMATEX otherRate = plainFloat;
    otherRate.nSamplesPerSec = 44100;
    otherRate.nAvgBytesPerSec = 44100 * 8;
    EXPECT_EQ(CheckStreamFormat(otherRate, mix), AUDCLNT_E_UNSUPPORTED_FORMAT);

    WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    EXPECT_EQ(CheckStreamFormat(pcm, mix), AUDCLNT_E_UNSUPPORTED_FORMAT);

    WAVEFORMATEXTENSIBLE pcmExtensible = mix;
    pcmExtensible.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    EXPECT_EQ(CheckStreamFormat(pcmExtensible.Format, mix), AUDCLNT_E_UNSUPPORTED_FORMAT);

    WAVEFORMATEXTENSIBLE otherSpeakers = mix;
    otherSpeakers.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_BACK_LEFT;
    EXPECT_EQ(CheckStreamFormat(otherSpeakers.Format, mix), AUDCLNT_E_UNSUPPORTED_FORMAT);
}

TEST(MixFormatTest, SelfContradictingDescriptionsAreInvalidArguments) {
    const WAVEFORMATEXTENSIBLE mix = MixFormatOf(Output(48000, 2, KSAUDIO_SPEAKER_STEREO));
    WAVEFORMATEX badAlign = mix.Format;
    badAlign.nBlockAlign = 4;
    EXPECT_EQ(CheckStreamFormat(badAlign, mix), E_INVALIDARG);

    WAVEFORMATEX badRate = mix.Format;
    badRate.nAvgBytesPerSec = 1;
    EXPECT_EQ(CheckStreamFormat(badRate, mix), E_INVALIDARG);

    WAVEFORMATEX noChannels = mix.Format;
    noChannels.nChannels = 0;
    EXPECT_EQ(CheckStreamFormat(noChannels, mix), E_INVALIDARG);

    // Too short to hold the extension it claims.
    WAVEFORMATEX truncated = mix.Format;
    truncated.cbSize = 0;
    EXPECT_EQ(CheckStreamFormat(truncated, mix), E_INVALIDARG);
}

} // namespace
