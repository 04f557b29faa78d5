// The oneVPL encoder transforms over Debian's dispatcher and the fake implementation: the parameters a
// stream's types and the query give the session, what every frame asks of the runtime, the runtime's
// answers the transform copes with, and the stream that comes out, decoded.

#include "IntelTransformTest.h"

namespace {

using IntelEncoderTest = IntelTransformTest;

// The mean luma of each picture of a raw stream, decoded by ffmpeg at its own size.
std::vector<double> MeanLumas(const std::vector<BYTE>& stream, const char* format, UINT32 width,
                              UINT32 height) {
    TempDirectory temp;
    std::ofstream(temp.Path("stream"), std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
    const CommandResult decoded =
        RunCommand({"ffmpeg", "-v", "error", "-f", format, "-i", temp.Path("stream").string(), "-fps_mode",
                    "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
    const std::size_t lumaBytes = std::size_t(width) * height;
    std::vector<double> means;
    for (std::size_t at = 0; at + lumaBytes * 3 / 2 <= decoded.output.size(); at += lumaBytes * 3 / 2) {
        double sum = 0;
        for (std::size_t i = 0; i < lumaBytes; ++i)
            sum += static_cast<unsigned char>(decoded.output[at + i]);
        means.push_back(sum / double(lumaBytes));
    }
    return means;
}

TEST_F(IntelEncoderTest, EncodesAnUnalignedWindowThroughBusyRetriesForcedIdrAndSpecChanges) {
    constexpr UINT32 W = 1366;
    constexpr UINT32 H = 768;
    Create(L"Corvane H.264 Encoder for Intel");
    ASSERT_EQ(BeginTypes(Type(MFVideoFormat_NV12, true, 6'000'000, W, H).Get(),
                         Type(MFVideoFormat_H264, true, 6'000'000, W, H).Get()),
              S_OK);
    // The surface is 16-aligned and cropped to the picture; nothing needed correcting.
    FakeVplObservations seen = m_observe(false);
    const mfxVideoParam& init = seen.encodeInit;
    const mfxFrameInfo& info = init.mfx.FrameInfo;
    EXPECT_EQ(info.Width, 1376);
    EXPECT_EQ(info.Height, 768);
    EXPECT_EQ(info.CropW, 1366);
    EXPECT_EQ(info.CropH, 768);
    EXPECT_EQ(info.FourCC, mfxU32(MFX_FOURCC_NV12));
    EXPECT_EQ(info.ChromaFormat, MFX_CHROMAFORMAT_YUV420);
    EXPECT_EQ(info.FrameRateExtN, 60u);
    EXPECT_EQ(info.PicStruct, MFX_PICSTRUCT_PROGRESSIVE);
    EXPECT_EQ(init.mfx.CodecId, mfxU32(MFX_CODEC_AVC));
    EXPECT_EQ(init.mfx.TargetUsage, MFX_TARGETUSAGE_BALANCED);
    EXPECT_EQ(init.mfx.TargetKbps, 6000);
    EXPECT_EQ(init.mfx.MaxKbps, 0);
    EXPECT_EQ(init.mfx.RateControlMethod, MFX_RATECONTROL_VBR);
    EXPECT_EQ(init.mfx.GopRefDist, 1);
    EXPECT_EQ(init.mfx.GopOptFlag, MFX_GOP_CLOSED);
    EXPECT_EQ(init.mfx.BufferSizeInKB, 4194);
    EXPECT_EQ(init.AsyncDepth, 1);
    EXPECT_EQ(init.IOPattern, MFX_IOPATTERN_IN_SYSTEM_MEMORY);
    EXPECT_FALSE(log.Matches(".*MFXVideoENCODE_Query.*"));

    // The runtime is busy three times at frame 2; frame 4 is forced to be a key frame; the frame rate halves
    // before frame 5 and the picture size changes before frame 6; frame 7 comes without a stream number.
    constexpr UINT32 Frames = 8;
    std::vector<BYTE> stream;
    for (UINT32 frame = 0; frame < Frames; ++frame) {
        if (frame == 2)
            m_answer(MFX_WRN_DEVICE_BUSY, 3);
        if (frame == 4)
            ForceKeyFrame();
        if (frame == 5) {
            const ComPtr<IMFMediaType> slower = Type(MFVideoFormat_NV12, true, 6'000'000, W, H);
            MFSetAttributeRatio(slower.Get(), MF_MT_FRAME_RATE, 30, 1);
            ASSERT_EQ(m_codec->SetInputType(0, slower.Get(), 0), S_OK);
        }
        if (frame == 6) {
            ASSERT_EQ(m_codec->SetOutputType(0, Type(MFVideoFormat_H264, true, 6'000'000, 640, 360).Get(), 0),
                      S_OK);
        }
        const ComPtr<IMFSample> packet =
            Encode(Texture(std::uint8_t(40 + 20 * frame), W, H).Get(), frame, frame != 7);
        ASSERT_TRUE(packet) << "frame " << frame;
        LONGLONG time = 0;
        packet->GetSampleTime(&time);
        EXPECT_EQ(time, LONGLONG(frame) * 166'667);
        EXPECT_EQ(MFGetAttributeUINT32(packet.Get(), KIV_GUID_FRAMENUM, 999), frame);
        EXPECT_EQ(MFGetAttributeUINT32(packet.Get(), KIV_GUID_STREAMNUM, 999), frame == 7 ? 999u : 7u);
        // The reset for the new rate starts a new sequence.
        const bool key = MFGetAttributeUINT32(packet.Get(), MFSampleExtension_CleanPoint, FALSE) != FALSE;
        EXPECT_EQ(key, frame == 0 || frame == 4 || frame == 5) << "frame " << frame;
        const std::vector<BYTE> bytes = Bytes(packet.Get());
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    seen = m_observe(false);
    EXPECT_EQ(seen.framesSubmitted, int(Frames));
    EXPECT_EQ(seen.frameTypesAsked[3], 0);
    EXPECT_EQ(seen.frameTypesAsked[4], MFX_FRAMETYPE_IDR | MFX_FRAMETYPE_I);
    EXPECT_EQ(seen.frameTypesAsked[5], 0);
    // Only the rate was applied; the new size was not.
    EXPECT_EQ(seen.encodeResets, 1);
    EXPECT_EQ(seen.encodeReset.mfx.FrameInfo.FrameRateExtN, 30u);
    EXPECT_EQ(seen.encodeReset.mfx.FrameInfo.CropW, 1366);
    EXPECT_TRUE(
        log.Contains("WARN Custom VPL-based encoder doesn't support dynamic resolution change (yet)"));

    // Each texture's bytes reached the encoder, at the stream's size.
    const std::vector<double> lumas = MeanLumas(stream, "h264", W, H);
    ASSERT_EQ(lumas.size(), Frames);
    for (UINT32 frame = 0; frame < Frames; ++frame)
        EXPECT_NEAR(lumas[frame], 40 + 20 * frame, 3.0) << "frame " << frame;
}

TEST_F(IntelEncoderTest, ArgbInputPresetsRatesAndTheRuntimesCorrections) {
    struct Case {
        std::int8_t preset;
        UINT32 bitRate;
        mfxU16 targetUsage;
        mfxU16 kbps;
    };
    // Below 1 kbit/s the runtime takes a rate of its own (2000 in the fake); above the 16-bit field the rate
    // is held at its top.
    for (const Case& c : {Case{5, 6'000'000, MFX_TARGETUSAGE_BEST_QUALITY, 6000},
                          Case{0, 100'000'000, MFX_TARGETUSAGE_BALANCED, 0xFFFF},
                          Case{-1, 500, MFX_TARGETUSAGE_BEST_SPEED, 2000}}) {
        m_query.speedQualityPreset = c.preset;
        Create(L"Corvane HEVC Encoder for Intel");
        ASSERT_EQ(BeginTypes(Type(MFVideoFormat_ARGB32, true, c.bitRate).Get(),
                             Type(MFVideoFormat_HEVC, true, c.bitRate).Get()),
                  S_OK);
        const mfxVideoParam init = m_observe(true).encodeInit;
        EXPECT_EQ(init.mfx.FrameInfo.FourCC, mfxU32(MFX_FOURCC_RGB4));
        EXPECT_EQ(init.mfx.FrameInfo.ChromaFormat, MFX_CHROMAFORMAT_YUV444);
        EXPECT_EQ(init.mfx.CodecId, mfxU32(MFX_CODEC_HEVC));
        EXPECT_EQ(init.mfx.TargetUsage, c.targetUsage);
        EXPECT_EQ(init.mfx.TargetKbps, c.kbps);
        std::vector<BYTE> stream;
        for (UINT32 frame = 0; frame < 2; ++frame) {
            const ComPtr<IMFSample> packet =
                Encode(Texture(100, Width, Height, DXGI_FORMAT_B8G8R8A8_UNORM).Get(), frame);
            ASSERT_TRUE(packet);
            const std::vector<BYTE> bytes = Bytes(packet.Get());
            stream.insert(stream.end(), bytes.begin(), bytes.end());
        }
        // Grey 100 in BT.601's limited range.
        for (const double luma : MeanLumas(stream, "hevc", Width, Height))
            EXPECT_NEAR(luma, 102, 3.0);
        m_codec->Shutdown();
        m_codec = nullptr;
    }
    // The corrected bytes are those of TargetKbps: 2000 is 0x07D0.
    mfxVideoParam params{};
    const auto offset =
        reinterpret_cast<const char*>(&params.mfx.TargetKbps) - reinterpret_cast<const char*>(&params);
    EXPECT_TRUE(log.Contains("WARN MFXVideoENCODE_Query() returned 5; modified bytes:  " +
                             std::to_string(offset) + "->208 " + std::to_string(offset + 1) + "->7"));
    EXPECT_EQ(log.Count("WARN"), 1u);
}

TEST_F(IntelEncoderTest, NeedMoreDataDeviceLossAndWhatCannotStream) {
    m_query.deviceVendor = 0x10DE;
    try {
        Create(L"Corvane H.264 Encoder for Intel");
        FAIL() << "an NVIDIA adapter was accepted";
    } catch (const kiv::mfcodec::Exception& e) {
        EXPECT_STREQ(e.expression, "extOpts.deviceVendor == +VendorId::Intel");
    }
    m_query.deviceVendor = 0x8086;
    Create(L"Corvane H.264 Encoder for Intel");
    EXPECT_EQ(Begin(MFVideoFormat_H264, false), MF_E_NOT_INITIALIZED);
    EXPECT_EQ(m_openSessions(), 0u);
    m_codec->Shutdown();

    Create(L"Corvane H.264 Encoder for Intel");
    ASSERT_EQ(Begin(MFVideoFormat_H264), S_OK);
    ASSERT_TRUE(Encode(Texture(60).Get(), 0));
    // The runtime keeps the frame for later: no output, and the next frame is asked for.
    m_answer(MFX_ERR_MORE_DATA, 1);
    EXPECT_EQ(Give(Texture(60).Get(), 1), S_OK);
    EXPECT_TRUE(log.Contains("WARN [INTEL ENC] Need more data: 2, 0, 0, 4194304"));
    ASSERT_TRUE(Encode(Texture(60).Get(), 2));
    // A lost device ends the session; later frames are refused until streaming begins again.
    m_answer(MFX_ERR_DEVICE_LOST, 1);
    EXPECT_EQ(Give(Texture(60).Get(), 3), E_FAIL);
    EXPECT_TRUE(log.Contains("ERROR [INTEL ENC] Device lost."));
    EXPECT_EQ(m_openSessions(), 0u);
    EXPECT_EQ(m_liveSurfaces(), 0u);
    EXPECT_EQ(NextEvent(), METransformNeedInput);
    ComPtr<IMFSample> sample;
    MFCreateSample(&sample);
    EXPECT_EQ(m_codec->ProcessInput(0, sample.Get(), 0), MF_E_NOT_INITIALIZED);
    EXPECT_TRUE(log.Matches("ERROR \\(m_session\\) does not hold .*"));
}

} // namespace
