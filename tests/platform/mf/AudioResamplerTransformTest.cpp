// The audio resampler: float at any rate and channel count to 16-bit stereo at 48 kHz, the tone kept, the
// clock of the input kept.

#include "TransformTestSupport.h"
#include <combaseapi.h>
#include <mftransform.h>
#include <wmcodecdsp.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr LONGLONG Second = 10'000'000;

ComPtr<IMFTransform> Resampler(IMFMediaType* input, IMFMediaType* output) {
    ComPtr<IMFTransform> resampler;
    EXPECT_EQ(CoCreateInstance(CLSID_AudioResamplerMediaObject, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMFTransform, &resampler),
              S_OK);
    EXPECT_EQ(resampler->SetInputType(0, input, 0), S_OK);
    EXPECT_EQ(resampler->SetOutputType(0, output, 0), S_OK);
    return resampler;
}

std::vector<float> Tone(double frequency, int rate, int channels, int frames, int offset) {
    std::vector<float> samples;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples.push_back(float(0.5 * std::sin(2 * M_PI * frequency * (offset + i) / rate)));
    return samples;
}

std::vector<std::int16_t> Pcm(const std::vector<ComPtr<IMFSample>>& samples) {
    std::vector<std::int16_t> pcm;
    for (const auto& sample : samples) {
        const std::vector<std::uint8_t> bytes = BytesOf(sample.Get());
        const auto* values = reinterpret_cast<const std::int16_t*>(bytes.data());
        pcm.insert(pcm.end(), values, values + bytes.size() / 2);
    }
    return pcm;
}

} // namespace

TEST(AudioResampler, TurnsFloatMonoAt44kIntoPcmStereoAt48kKeepingTheTone) {
    ComPtr<IMFTransform> resampler = Resampler(MakeAudioType(MFAudioFormat_Float, 32, 44100, 1).Get(),
                                               MakeAudioType(MFAudioFormat_PCM, 16, 48000, 2).Get());
    std::vector<ComPtr<IMFSample>> outputs;
    // One second in packets of 441 frames (10 ms), stamped from 5 s on.
    for (int packet = 0; packet < 100; ++packet) {
        const std::vector<float> tone = Tone(1000, 44100, 1, 441, packet * 441);
        ASSERT_EQ(
            Feed(resampler.Get(),
                 MakeSample(tone.data(), tone.size() * 4, 5 * Second + packet * Second / 100, Second / 100)
                     .Get(),
                 outputs),
            S_OK);
    }
    ASSERT_EQ(DrainAll(resampler.Get(), outputs), S_OK);
    const std::vector<std::int16_t> pcm = Pcm(outputs);
    ASSERT_EQ(pcm.size() % 2, 0u);
    EXPECT_NEAR(double(pcm.size() / 2), 48000.0, 2.0);
    std::vector<float> left, right;
    for (std::size_t i = 0; i < pcm.size(); i += 2) {
        left.push_back(pcm[i] / 32768.0f);
        right.push_back(pcm[i + 1] / 32768.0f);
    }
    EXPECT_NEAR(ToneFrequency(left, 48000), 1000.0, 2.0);
    EXPECT_EQ(left, right);

    // Times follow the input's clock and the samples follow each other without gaps.
    EXPECT_NEAR(double(TimeOf(outputs.front().Get())), double(5 * Second), double(Second / 1000));
    for (std::size_t i = 1; i < outputs.size(); ++i) {
        LONGLONG duration = 0;
        outputs[i - 1]->GetSampleDuration(&duration);
        EXPECT_NEAR(double(TimeOf(outputs[i].Get())), double(TimeOf(outputs[i - 1].Get()) + duration), 2.0);
    }
}

TEST(AudioResampler, DownmixesSurroundAndRefusesPartialFrames) {
    ComPtr<IMFTransform> resampler = Resampler(MakeAudioType(MFAudioFormat_Float, 32, 48000, 6).Get(),
                                               MakeAudioType(MFAudioFormat_PCM, 16, 48000, 2).Get());
    const std::vector<float> tone = Tone(440, 48000, 6, 4800, 0);
    std::vector<ComPtr<IMFSample>> outputs;
    ASSERT_EQ(Feed(resampler.Get(), MakeSample(tone.data(), tone.size() * 4).Get(), outputs), S_OK);
    ASSERT_EQ(DrainAll(resampler.Get(), outputs), S_OK);
    const std::vector<std::int16_t> pcm = Pcm(outputs);
    EXPECT_NEAR(double(pcm.size() / 2), 4800.0, 2.0);
    std::vector<float> left;
    for (std::size_t i = 0; i < pcm.size(); i += 2)
        left.push_back(pcm[i] / 32768.0f);
    EXPECT_NEAR(ToneFrequency(left, 48000), 440.0, 2.0);

    EXPECT_EQ(resampler->ProcessInput(0, MakeSample(tone.data(), 6).Get(), 0), E_INVALIDARG);
}

TEST(AudioResampler, RefusesTypesItCannotConvert) {
    ComPtr<IMFTransform> resampler;
    ASSERT_EQ(CoCreateInstance(CLSID_AudioResamplerMediaObject, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMFTransform, &resampler),
              S_OK);
    EXPECT_EQ(resampler->SetInputType(0, MakeAudioType(MFAudioFormat_PCM, 24, 48000, 2).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(resampler->SetInputType(0, MakeAudioType(MFAudioFormat_Float, 32, 48000, 0).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(resampler->SetOutputType(0, MakeAudioType(MFAudioFormat_AAC, 16, 48000, 2).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    ComPtr<IMFMediaType> badAlignment = MakeAudioType(MFAudioFormat_Float, 32, 48000, 2);
    badAlignment->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, 4);
    EXPECT_EQ(resampler->SetInputType(0, badAlignment.Get(), 0), MF_E_INVALIDMEDIATYPE);
    const float silence[2] = {};
    EXPECT_EQ(resampler->ProcessInput(0, MakeSample(silence, sizeof(silence)).Get(), 0),
              MF_E_TRANSFORM_TYPE_NOT_SET);
}
