// The AMF encoder transforms over the fake AMF runtime: the property table each sets, the frames it copies
// into host surfaces and their forced pictures and numbers, the bitstream that comes out, decoded, and the
// teardown while the worker waits for output.

#include "AmdTransformTest.h"

namespace {

using AmdEncoderTest = AmdTransformTest;

// The mean luma of every picture of an Annex B stream.
std::vector<double> DecodedLuma(const std::vector<std::uint8_t>& stream, const char* format) {
    TempDirectory temp;
    std::ofstream(temp.Path("out.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
    const CommandResult decoded =
        RunCommand({"ffmpeg", "-v", "error", "-f", std::string(format), "-i", temp.Path("out.bin").string(),
                    "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
    const std::size_t pictureBytes = std::size_t(Width) * Height * 3 / 2;
    std::vector<double> means;
    for (std::size_t at = 0; at + pictureBytes <= decoded.output.size(); at += pictureBytes) {
        double sum = 0;
        for (std::size_t i = 0; i < std::size_t(Width) * Height; ++i)
            sum += static_cast<unsigned char>(decoded.output[at + i]);
        means.push_back(sum / (Width * Height));
    }
    return means;
}

TEST_F(AmdEncoderTest, HevcSetsItsTableAndEncodesFramesWithAForcedIdrNumbersAndARateChange) {
    m_query.longGop = 1;
    Create(L"Corvane HEVC Encoder for AMD");
    ASSERT_EQ(BeginTypes(Type(MFVideoFormat_NV12).Get(), Type(MFVideoFormat_HEVC, true, 5'000'000).Get()),
              S_OK);
    const std::vector<std::wstring> table = {
        L"HevcUsage",         L"HevcProfile",      L"HevcTier",           L"HevcProfileLevel",
        L"HevcColorBitDepth", L"HevcNominalRange", L"LowLatencyInternal", L"HevcRateControlSkipFrameEnable",
        L"HevcQualityPreset", L"HevcGOPSize",      L"HevcFrameRate",      L"HevcPeakBitrate",
        L"HevcTargetBitrate"};
    std::vector<std::wstring> set = PropertiesSet();
    ASSERT_GE(set.size(), table.size());
    // The worker sets its query timeout once it runs.
    EXPECT_EQ(std::vector<std::wstring>(set.begin(), set.begin() + table.size()), table);
    EXPECT_EQ(Latest(L"HevcGOPSize"), 3600);
    EXPECT_EQ(Latest(L"HevcPeakBitrate"), 7'500'000);
    EXPECT_EQ(Latest(L"HevcTargetBitrate"), 5'000'000);
    EXPECT_EQ(Latest(L"HevcQualityPreset"), 5);
    EXPECT_EQ(Latest(L"HevcProfileLevel"), 183);
    const amf::AMFVariantStruct rate = m_observe().Latest(L"HevcFrameRate");
    EXPECT_EQ(rate.type, amf::AMF_VARIANT_RATE);
    EXPECT_EQ(rate.rateValue.num, 60u);
    EXPECT_EQ(m_observe().initFormat, amf::AMF_SURFACE_NV12);
    EXPECT_EQ(m_observe().initWidth, int(Width));

    // Nothing was encoded yet: an output request has nothing to give.
    MFT_OUTPUT_DATA_BUFFER none{};
    DWORD status = 0;
    EXPECT_EQ(m_codec->ProcessOutput(0, 1, &none, &status), MF_E_TRANSFORM_NEED_MORE_INPUT);
    EXPECT_EQ(none.pSample, nullptr);

    // Frame 3 is forced to be a key frame, frame 4 has no stream number, the bit rate halves before frame 5.
    const auto answerInputFull =
        reinterpret_cast<void (*)(int)>(GetProcAddress(m_fake, "fakeAmfAnswerInputFull"));
    ASSERT_NE(answerInputFull, nullptr);
    constexpr UINT32 Frames = 6;
    const ComPtr<ID3D11Texture2D> texture = Texture(0);
    ComPtr<ID3D11DeviceContext> context;
    m_device->GetImmediateContext(&context);
    std::vector<std::uint8_t> stream;
    for (UINT32 frame = 0; frame < Frames; ++frame) {
        context->CopyResource(texture.Get(), Texture(std::uint8_t(40 + 20 * frame)).Get());
        if (frame == 3)
            ForceKeyFrame();
        if (frame == 5) {
            ASSERT_EQ(m_codec->SetOutputType(0, Type(MFVideoFormat_HEVC, true, 2'500'000).Get(), 0), S_OK);
        }
        // A busy encoder turns frame 2 away twice before it takes it.
        if (frame == 2)
            answerInputFull(2);
        const ComPtr<IMFSample> packet = Encode(texture.Get(), frame, frame != 4);
        ASSERT_TRUE(packet) << "frame " << frame;
        LONGLONG time = 0;
        packet->GetSampleTime(&time);
        EXPECT_EQ(time, LONGLONG(frame) * 166'667);
        EXPECT_EQ(MFGetAttributeUINT32(packet.Get(), KIV_GUID_FRAMENUM, 999), frame);
        EXPECT_EQ(MFGetAttributeUINT32(packet.Get(), KIV_GUID_STREAMNUM, 999), frame == 4 ? 999u : 7u);
        const bool key = MFGetAttributeUINT32(packet.Get(), MFSampleExtension_CleanPoint, FALSE) != FALSE;
        EXPECT_EQ(key, frame == 0 || frame == 3) << "frame " << frame;
        const std::vector<std::uint8_t> bytes = Bytes(packet.Get());
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    // Only the one surface after the request forced its picture.
    EXPECT_EQ(m_observe().forcedPictureTypes, (std::vector<std::int64_t>{0, 0, 0, 2, 0, 0}));
    set = PropertiesSet();
    ASSERT_GE(set.size(), 2u);
    EXPECT_EQ(set[set.size() - 2], L"HevcPeakBitrate");
    EXPECT_EQ(Latest(L"HevcPeakBitrate"), 3'750'000);
    EXPECT_EQ(Latest(L"HevcTargetBitrate"), 2'500'000);

    // The pictures that went in, through host surfaces padded past their width.
    const std::vector<double> luma = DecodedLuma(stream, "hevc");
    ASSERT_EQ(luma.size(), Frames);
    for (UINT32 frame = 0; frame < Frames; ++frame)
        EXPECT_NEAR(luma[frame], 40 + 20 * frame, 3.0) << "frame " << frame;
    EXPECT_EQ(m_codec->Shutdown(), S_OK);
}

TEST_F(AmdEncoderTest, H264TakesArgbSetsNoGopAndTearsDownWhileTheWorkerWaits) {
    m_query.speedQualityPreset = -1;
    Create(L"Corvane H.264 Encoder for AMD");
    ASSERT_EQ(BeginTypes(Type(MFVideoFormat_ARGB32).Get(), Type(MFVideoFormat_H264).Get()), S_OK);
    EXPECT_EQ(m_observe().component, L"AMFVideoEncoderVCE_AVC");
    EXPECT_EQ(m_observe().initFormat, amf::AMF_SURFACE_BGRA);
    EXPECT_EQ(Latest(L"Profile"), 100);
    EXPECT_EQ(Latest(L"QualityPreset"), 1);
    EXPECT_EQ(Latest(L"TargetBitrate"), BitRate);
    for (const std::wstring& name : PropertiesSet())
        EXPECT_EQ(name.find(L"GOP"), std::wstring::npos);

    std::vector<std::uint32_t> grey(std::size_t(Width) * Height, 0xFF606060);
    const D3D11_SUBRESOURCE_DATA data{grey.data(), Width * 4, 0};
    CD3D11_TEXTURE2D_DESC desc(DXGI_FORMAT_B8G8R8A8_UNORM, Width, Height, 1, 1);
    ComPtr<ID3D11Texture2D> texture;
    ASSERT_EQ(m_device->CreateTexture2D(&desc, &data, &texture), S_OK);
    std::vector<std::uint8_t> stream;
    for (UINT32 frame = 0; frame < 2; ++frame) {
        const ComPtr<IMFSample> packet = Encode(texture.Get(), frame);
        ASSERT_TRUE(packet);
        const std::vector<std::uint8_t> bytes = Bytes(packet.Get());
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    const std::vector<double> luma = DecodedLuma(stream, "h264");
    ASSERT_EQ(luma.size(), 2u);
    EXPECT_NEAR(luma[1], 0x60 * 219.0 / 255 + 16, 4.0);
    // The worker is waiting in a query for the next output: teardown joins it before the encoder ends,
    // which the fake would refuse otherwise.
    EXPECT_EQ(m_codec->Shutdown(), S_OK);

    // Without the long-GOP flag HEVC has a key frame every 120 pictures.
    m_query.speedQualityPreset = 0;
    m_query.videoCodec = VideoCodecChoice::Hevc;
    Create(L"Corvane HEVC Encoder for AMD");
    ASSERT_EQ(Begin(MFVideoFormat_HEVC), S_OK);
    EXPECT_EQ(Latest(L"HevcGOPSize"), 120);
}

TEST_F(AmdEncoderTest, RefusesOtherQueriesAndStreamsWithoutARate) {
    struct Case {
        UINT32 vendor;
        std::uint8_t decoder;
        VideoCodecChoice codec;
        const char* expression;
    };
    for (const Case& c : {Case{0x10DE, 0, VideoCodecChoice::H264, "m_extOpts.deviceVendor == +VendorId::Amd"},
                          Case{0x1002, 1, VideoCodecChoice::H264, "m_extOpts.decoder == 0"},
                          Case{0x1002, 0, VideoCodecChoice::Hevc,
                               "m_extOpts.videoCodec == Codec::Codec || m_extOpts.videoCodec == "
                               "VideoCodecChoice::Automatic"}}) {
        m_query.deviceVendor = c.vendor;
        m_query.decoder = c.decoder;
        m_query.videoCodec = c.codec;
        try {
            Create(L"Corvane H.264 Encoder for AMD");
            ADD_FAILURE() << c.expression << " was not checked";
        } catch (const kiv::mfcodec::Exception& e) {
            EXPECT_STREQ(e.expression, c.expression);
        }
    }
    m_query = EncoderQuery{};
    m_query.deviceVendor = 0x1002;
    Create(L"Corvane HEVC Encoder for AMD");
    EXPECT_EQ(Begin(MFVideoFormat_HEVC, false), MF_E_ATTRIBUTENOTFOUND);
    EXPECT_EQ(m_observe().liveObjects, m_liveBefore)
        << "nothing is opened for a stream that cannot be encoded";
}

} // namespace
