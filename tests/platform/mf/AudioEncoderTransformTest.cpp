// The AAC and FLAC encoders: input type first, codec data on the output type, packet times, and decoding
// back to the tone (FLAC exactly).

#include "TransformTestSupport.h"
#include <combaseapi.h>
#include <wmcodecdsp.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr LONGLONG Second = 10'000'000;

ComPtr<IMFTransform> Encoder(REFCLSID clsid) {
    ComPtr<IMFTransform> encoder;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&encoder)), S_OK);
    return encoder;
}

ComPtr<IMFMediaType> CompressedType(REFGUID subtype, UINT32 rate, UINT32 channels) {
    ComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, rate);
    type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, channels);
    type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 24000);
    return type;
}

std::vector<std::int16_t> StereoTone(double frequency, int frames, int offset) {
    std::vector<std::int16_t> samples;
    for (int i = 0; i < frames; ++i) {
        const auto value = static_cast<std::int16_t>(
            std::lround(12000 * std::sin(2 * M_PI * frequency * (offset + i) / 48000)));
        samples.push_back(value);
        samples.push_back(value);
    }
    return samples;
}

std::vector<std::uint8_t> UserData(IMFTransform* encoder) {
    ComPtr<IMFMediaType> current;
    EXPECT_EQ(encoder->GetOutputCurrentType(0, &current), S_OK);
    UINT32 size = 0;
    EXPECT_EQ(current->GetBlobSize(MF_MT_USER_DATA, &size), S_OK);
    std::vector<std::uint8_t> data(size);
    current->GetBlob(MF_MT_USER_DATA, data.data(), size, nullptr);
    return data;
}

// Feeds one second of tone in 10 ms packets from `start` on and drains.
std::vector<ComPtr<IMFSample>> EncodeSecond(IMFTransform* encoder, LONGLONG start,
                                            std::vector<std::int16_t>& fed) {
    std::vector<ComPtr<IMFSample>> packets;
    for (int packet = 0; packet < 100; ++packet) {
        const std::vector<std::int16_t> tone = StereoTone(440, 480, packet * 480);
        fed.insert(fed.end(), tone.begin(), tone.end());
        EXPECT_EQ(
            Feed(encoder,
                 MakeSample(tone.data(), tone.size() * 2, start + packet * Second / 100, Second / 100).Get(),
                 packets),
            S_OK);
    }
    EXPECT_EQ(DrainAll(encoder, packets), S_OK);
    return packets;
}

} // namespace

TEST(AacEncoder, TakesTheInputFirstAndPublishesItsAudioSpecificConfig) {
    ComPtr<IMFTransform> encoder = Encoder(CLSID_AACMFTEncoder);
    EXPECT_EQ(encoder->SetOutputType(0, CompressedType(MFAudioFormat_AAC, 48000, 2).Get(), 0),
              MF_E_TRANSFORM_TYPE_NOT_SET);
    EXPECT_EQ(encoder->SetInputType(0, MakeAudioType(MFAudioFormat_Float, 32, 48000, 2).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(encoder->SetInputType(0, MakeAudioType(MFAudioFormat_PCM, 16, 47000, 2).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    ASSERT_EQ(encoder->SetInputType(0, MakeAudioType(MFAudioFormat_PCM, 16, 48000, 2).Get(), 0), S_OK);
    EXPECT_EQ(encoder->SetOutputType(0, CompressedType(MFAudioFormat_AAC, 44100, 2).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(encoder->SetOutputType(0, CompressedType(MFAudioFormat_FLAC, 48000, 2).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    ASSERT_EQ(encoder->SetOutputType(0, CompressedType(MFAudioFormat_AAC, 48000, 2).Get(), 0), S_OK);
    // HEAACWAVEINFO's 12 bytes, then the AudioSpecificConfig: AAC-LC (2), 48 kHz (index 3), two channels.
    const std::vector<std::uint8_t> userData = UserData(encoder.Get());
    ASSERT_GE(userData.size(), 14u);
    EXPECT_EQ(userData[12], 0x11);
    EXPECT_EQ(userData[13], 0x90);
}

TEST(AacEncoder, PacketsFollowEachOtherFromTheFirstInputTimeAndDecodeToTheTone) {
    ComPtr<IMFTransform> encoder = Encoder(CLSID_AACMFTEncoder);
    ASSERT_EQ(encoder->SetInputType(0, MakeAudioType(MFAudioFormat_PCM, 16, 48000, 2).Get(), 0), S_OK);
    ASSERT_EQ(encoder->SetOutputType(0, CompressedType(MFAudioFormat_AAC, 48000, 2).Get(), 0), S_OK);
    std::vector<std::int16_t> fed;
    const std::vector<ComPtr<IMFSample>> packets = EncodeSecond(encoder.Get(), 3 * Second, fed);
    // 48000 samples are 46.9 frames of 1024, plus the encoder's own delay.
    ASSERT_GE(packets.size(), 47u);
    for (std::size_t i = 0; i < packets.size(); ++i)
        EXPECT_EQ(TimeOf(packets[i].Get()), 3 * Second + LONGLONG(i) * 1024 * Second / 48000)
            << "packet " << i;

    const std::vector<std::uint8_t> userData = UserData(encoder.Get());
    TestDecoder decoder(TestDecoder::Codec::Aac, {userData.begin() + 12, userData.end()});
    for (const auto& packet : packets)
        decoder.Decode(BytesOf(packet.Get()));
    decoder.Flush();
    ASSERT_EQ(decoder.Channels(), 2);
    std::vector<float> left;
    for (std::size_t i = 0; i < decoder.Audio().size(); i += 2)
        left.push_back(decoder.Audio()[i]);
    EXPECT_NEAR(ToneFrequency(left, 48000), 440.0, 2.0);
}

TEST(FlacEncoder, IsLosslessAndPublishesItsStreamInfo) {
    ComPtr<IMFTransform> encoder = Encoder(CLSID_CMSFLACEncMFT);
    ASSERT_EQ(encoder->SetInputType(0, MakeAudioType(MFAudioFormat_PCM, 16, 48000, 2).Get(), 0), S_OK);
    ASSERT_EQ(encoder->SetOutputType(0, CompressedType(MFAudioFormat_FLAC, 48000, 2).Get(), 0), S_OK);
    const std::vector<std::uint8_t> streamInfo = UserData(encoder.Get());
    ASSERT_EQ(streamInfo.size(), 34u);

    std::vector<std::int16_t> fed;
    const std::vector<ComPtr<IMFSample>> packets = EncodeSecond(encoder.Get(), 0, fed);
    TestDecoder decoder(TestDecoder::Codec::Flac, streamInfo);
    for (const auto& packet : packets)
        decoder.Decode(BytesOf(packet.Get()));
    decoder.Flush();
    ASSERT_EQ(decoder.Audio().size(), fed.size());
    for (std::size_t i = 0; i < fed.size(); ++i)
        ASSERT_EQ(std::lround(decoder.Audio()[i] * 32768), fed[i]) << "sample " << i;
}

TEST(AacEncoder, FillsAGapInTheInputTimesWithSilence) {
    ComPtr<IMFTransform> encoder = Encoder(CLSID_AACMFTEncoder);
    ASSERT_EQ(encoder->SetInputType(0, MakeAudioType(MFAudioFormat_PCM, 16, 48000, 2).Get(), 0), S_OK);
    ASSERT_EQ(encoder->SetOutputType(0, CompressedType(MFAudioFormat_AAC, 48000, 2).Get(), 0), S_OK);
    std::vector<ComPtr<IMFSample>> packets;
    // Half a second, 200 ms missing, half a second.
    for (int packet = 0; packet < 100; ++packet) {
        const LONGLONG time = packet * Second / 100 + (packet >= 50 ? Second / 5 : 0);
        const std::vector<std::int16_t> tone = StereoTone(440, 480, packet * 480);
        ASSERT_EQ(
            Feed(encoder.Get(), MakeSample(tone.data(), tone.size() * 2, time, Second / 100).Get(), packets),
            S_OK);
    }
    ASSERT_EQ(DrainAll(encoder.Get(), packets), S_OK);
    // 1.2 s of samples are 56.25 frames of 1024; the packets follow each other without a jump.
    ASSERT_GE(packets.size(), 57u);
    for (std::size_t i = 0; i < packets.size(); ++i)
        EXPECT_EQ(TimeOf(packets[i].Get()), LONGLONG(i) * 1024 * Second / 48000) << "packet " << i;
    LONGLONG duration = 0;
    packets.back()->GetSampleDuration(&duration);
    EXPECT_NEAR(double(TimeOf(packets.back().Get()) + duration), double(Second * 6 / 5), double(Second / 20));
}
