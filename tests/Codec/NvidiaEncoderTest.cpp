// The NVENC encoder transforms over the fake CUDA and NVENC runtimes: the session the transform opens, what
// every frame asks of the runtime, and the stream that comes out, decoded.

#include "NvidiaTransformTest.h"

namespace {

using NvidiaEncoderTest = NvidiaTransformTest;

TEST_F(NvidiaEncoderTest, EncodesFramesWithForcedIdrOneRegistrationPerTextureAndBitRateChanges) {
    Create(L"Corvane HEVC Encoder for Nvidia");
    // Before streaming a type change only records the type.
    ASSERT_EQ(Begin(MFVideoFormat_HEVC), S_OK);
    FakeNvencObservations seen = ExpectSession(NV_ENC_CODEC_HEVC_GUID, NV_ENC_PRESET_P4_GUID,
                                               NV_ENC_TUNING_INFO_ULTRA_LOW_LATENCY, 300);
    EXPECT_EQ(seen.init.encodeWidth, Width);
    EXPECT_EQ(seen.init.encodeHeight, Height);
    EXPECT_EQ(seen.init.frameRateNum, 60u);
    EXPECT_EQ(seen.init.enablePTD, 1u);
    EXPECT_EQ(seen.config.rcParams.rateControlMode, NV_ENC_PARAMS_RC_CBR);
    EXPECT_EQ(seen.config.rcParams.averageBitRate, BitRate);
    EXPECT_EQ(seen.config.rcParams.maxBitRate, BitRate);
    EXPECT_EQ(seen.reconfigures, 0);

    // Two textures take turns, as a sample pool's do; frame 5 is forced to be a key frame and the bit rate
    // changes before frame 8. Frame 10 comes without a stream number.
    constexpr UINT32 Frames = 12;
    ComPtr<ID3D11Texture2D> textures[2] = {Texture(0), Texture(0)};
    std::vector<std::uint8_t> stream;
    for (UINT32 frame = 0; frame < Frames; ++frame) {
        ComPtr<ID3D11Texture2D> picture = Texture(std::uint8_t(40 + 12 * frame));
        ComPtr<ID3D11DeviceContext> context;
        m_device->GetImmediateContext(&context);
        context->CopyResource(textures[frame % 2].Get(), picture.Get());
        if (frame == 5)
            ForceKeyFrame();
        if (frame == 8) {
            ASSERT_EQ(m_codec->SetOutputType(0, Type(MFVideoFormat_HEVC, true, BitRate / 2).Get(), 0), S_OK);
        }
        const ComPtr<IMFSample> packet = Encode(textures[frame % 2].Get(), frame, frame != 10);
        ASSERT_TRUE(packet) << "frame " << frame;
        LONGLONG time = 0;
        packet->GetSampleTime(&time);
        EXPECT_EQ(time, LONGLONG(frame) * 166'667);
        EXPECT_EQ(MFGetAttributeUINT32(packet.Get(), KIV_GUID_FRAMENUM, 999), frame);
        EXPECT_EQ(MFGetAttributeUINT32(packet.Get(), KIV_GUID_STREAMNUM, 999), frame == 10 ? 999u : 7u);
        const bool key = MFGetAttributeUINT32(packet.Get(), MFSampleExtension_CleanPoint, FALSE) != FALSE;
        EXPECT_EQ(key, frame == 0 || frame == 5) << "frame " << frame;
        const std::vector<BYTE> bytes = Bytes(packet.Get());
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    seen = m_observe();
    EXPECT_EQ(seen.framesEncoded, int(Frames));
    EXPECT_EQ(seen.registrationsMade, 2);
    EXPECT_EQ(seen.picFlags[5], std::uint32_t(NV_ENC_PIC_FLAG_FORCEIDR));
    EXPECT_EQ(seen.picFlags[6], 0u);
    // Only the average and maximum rate change, and no key frame is forced.
    EXPECT_EQ(seen.reconfigures, 1);
    EXPECT_EQ(seen.reconfiguredConfig.rcParams.averageBitRate, BitRate / 2);
    EXPECT_EQ(seen.reconfiguredConfig.rcParams.maxBitRate, BitRate / 2);
    EXPECT_EQ(seen.reconfigured.encodeWidth, Width);
    EXPECT_FALSE(seen.reconfiguredForceIdr);
    EXPECT_FALSE(seen.reconfiguredReset);
    EXPECT_EQ(seen.pictureTypes[8], NV_ENC_PIC_TYPE_P);

    // The stream decodes to the pictures that went in: the textures' bytes reached the encoder each frame.
    TempDirectory temp;
    std::ofstream(temp.Path("out.hevc"), std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
    const CommandResult decoded =
        RunCommand({"ffmpeg", "-v", "error", "-f", "hevc", "-i", temp.Path("out.hevc").string(), "-f",
                    "rawvideo", "-pix_fmt", "yuv420p", "-"});
    const std::size_t pictureBytes = std::size_t(Width) * Height * 3 / 2;
    ASSERT_EQ(decoded.output.size(), pictureBytes * Frames);
    for (UINT32 frame = 0; frame < Frames; ++frame) {
        double sum = 0;
        for (std::size_t i = 0; i < std::size_t(Width) * Height; ++i)
            sum += static_cast<unsigned char>(decoded.output[frame * pictureBytes + i]);
        EXPECT_NEAR(sum / (Width * Height), 40 + 12 * frame, 3.0) << "frame " << frame;
    }

    EXPECT_EQ(m_codec->Shutdown(), S_OK);
    EXPECT_EQ(m_observe().registrations, 0);
}

TEST_F(NvidiaEncoderTest, PresetTuningAndGopComeFromTheClassAndTheQuery) {
    // The H.264 class, disabled in the table, still builds: P3, low latency, no periodic key frames, CAVLC.
    Create(L"Corvane H.264 Encoder for Nvidia");
    ASSERT_EQ(Begin(MFVideoFormat_H264), S_OK);
    const FakeNvencObservations seen =
        ExpectSession(NV_ENC_CODEC_H264_GUID, NV_ENC_PRESET_P3_GUID, NV_ENC_TUNING_INFO_LOW_LATENCY,
                      NVENC_INFINITE_GOPLENGTH);
    EXPECT_EQ(seen.config.encodeCodecConfig.h264Config.entropyCodingMode,
              NV_ENC_H264_ENTROPY_CODING_MODE_CAVLC);
    EXPECT_EQ(seen.config.encodeCodecConfig.h264Config.sliceModeData, 5u);
    ASSERT_TRUE(Encode(Texture(100).Get(), 0));
    m_codec->Shutdown();

    struct Case {
        std::int8_t preset;
        std::uint8_t unbounded;
        const GUID& presetGuid;
        NV_ENC_TUNING_INFO tuning;
        std::uint32_t gop;
    };
    for (const Case& c :
         {Case{-1, 0, NV_ENC_PRESET_P1_GUID, NV_ENC_TUNING_INFO_ULTRA_LOW_LATENCY, 300},
          Case{1, 1, NV_ENC_PRESET_P4_GUID, NV_ENC_TUNING_INFO_LOW_LATENCY, NVENC_INFINITE_GOPLENGTH}}) {
        m_query.speedQualityPreset = c.preset;
        m_query.longGop = c.unbounded;
        m_query.unboundedGop = c.unbounded;
        Create(L"Corvane HEVC Encoder for Nvidia");
        ASSERT_EQ(Begin(MFVideoFormat_HEVC), S_OK);
        ExpectSession(NV_ENC_CODEC_HEVC_GUID, c.presetGuid, c.tuning, c.gop);
        m_codec->Shutdown();
    }
}

TEST_F(NvidiaEncoderTest, RefusesAGpuWithoutNvencWhenTheQueryNamesItsDevice) {
    const auto setNoEncoder =
        reinterpret_cast<void (*)(bool)>(GetProcAddress(m_fake, "fakeNvencSetNoEncoder"));
    ASSERT_NE(setNoEncoder, nullptr);
    m_query.device = m_device.Get();
    setNoEncoder(true);
    try {
        Create(L"Corvane HEVC Encoder for Nvidia");
        FAIL() << "a GPU without NVENC was accepted";
    } catch (const kiv::mfcodec::Exception& e) {
        EXPECT_STREQ(e.expression, "m_extOpts.device == nullptr || GpuEncodes(m_extOpts.device)");
    }
    setNoEncoder(false);
    Create(L"Corvane HEVC Encoder for Nvidia");
    EXPECT_EQ(m_observe().openSessions, 0);
    ASSERT_EQ(Begin(MFVideoFormat_HEVC), S_OK);
}

TEST_F(NvidiaEncoderTest, RefusesOtherVendorsAndStreamsWithoutAFrameRate) {
    m_query.deviceVendor = 0x8086;
    try {
        Create(L"Corvane HEVC Encoder for Nvidia");
        FAIL() << "an Intel adapter was accepted";
    } catch (const kiv::mfcodec::Exception& e) {
        EXPECT_STREQ(e.expression, "m_extOpts.deviceVendor == +VendorId::Nvidia");
    }
    m_query.deviceVendor = 0x10DE;
    Create(L"Corvane HEVC Encoder for Nvidia");
    EXPECT_EQ(Begin(MFVideoFormat_HEVC, false), MF_E_ATTRIBUTENOTFOUND);
    EXPECT_EQ(m_observe().openSessions, 0);
}

} // namespace
