// The AMF decoder transforms over the fake AMF runtime, fed with what the AMF encoder transforms made: the
// properties and surface pool each stream opens with, every input copied into one AMF buffer and decoded into
// the one output texture at the target size, its numbers carried through, and the bounded wait for a picture
// that does not come.

#include "AmdTransformTest.h"
#include "SampleLuma.h"
#include <synchapi.h>

namespace {

struct Packet {
    std::vector<BYTE> bytes;
    LONGLONG time;
};

class AmdDecoderTest : public AmdTransformTest {
protected:
    // An NV12 picture of one grey level whose last `bandRows` rows are white.
    ComPtr<ID3D11Texture2D> Picture(UINT width, UINT height, std::uint8_t luma, UINT bandRows = 0) {
        std::vector<std::uint8_t> bytes(std::size_t(width) * height * 3 / 2, 128);
        std::fill_n(bytes.begin(), std::size_t(width) * (height - bandRows), luma);
        std::fill_n(bytes.begin() + std::size_t(width) * (height - bandRows), std::size_t(width) * bandRows,
                    235);
        const D3D11_SUBRESOURCE_DATA data{bytes.data(), width, 0};
        CD3D11_TEXTURE2D_DESC desc(DXGI_FORMAT_NV12, width, height, 1, 1);
        ComPtr<ID3D11Texture2D> texture;
        EXPECT_EQ(m_device->CreateTexture2D(&desc, &data, &texture), S_OK);
        return texture;
    }

    // `frames` pictures of the grey levels 40 + 20 n from the AMF encoder transform `encoder`.
    std::vector<Packet> Encoded(const wchar_t* encoder, REFGUID codec, UINT frames, UINT width = Width,
                                UINT height = Height, UINT bandRows = 0) {
        m_query.videoCodec = VideoCodecChoice::Automatic;
        Create(encoder);
        EXPECT_EQ(BeginTypes(Type(MFVideoFormat_NV12, true, BitRate, width, height).Get(),
                             Type(codec, true, BitRate, width, height).Get()),
                  S_OK);
        std::vector<Packet> packets;
        for (UINT32 frame = 0; frame < frames; ++frame) {
            const ComPtr<IMFSample> packet =
                Encode(Picture(width, height, std::uint8_t(40 + 20 * frame), bandRows).Get(), frame);
            packets.push_back({Bytes(packet.Get()), LONGLONG(frame) * 166'667});
        }
        ShutdownCodec();
        return packets;
    }

    // A compressed sample of `bytes` in `pieces` media buffers, with numbers unless `numbered` is false.
    static ComPtr<IMFSample> Compressed(const std::vector<BYTE>& bytes, LONGLONG time, UINT32 frame,
                                        int pieces = 1, bool numbered = true) {
        ComPtr<IMFSample> sample;
        MFCreateSample(&sample);
        std::size_t at = 0;
        for (int piece = 0; piece < pieces; ++piece) {
            const std::size_t size = piece + 1 == pieces ? bytes.size() - at : bytes.size() / pieces;
            ComPtr<IMFMediaBuffer> buffer;
            MFCreateMemoryBuffer(DWORD(size), &buffer);
            BYTE* data = nullptr;
            buffer->Lock(&data, nullptr, nullptr);
            std::memcpy(data, bytes.data() + at, size);
            buffer->Unlock();
            buffer->SetCurrentLength(DWORD(size));
            sample->AddBuffer(buffer.Get());
            at += size;
        }
        sample->SetSampleTime(time);
        sample->SetSampleDuration(166'667);
        if (numbered) {
            sample->SetUINT32(KIV_GUID_FRAMENUM, frame);
            sample->SetUINT32(KIV_GUID_STREAMNUM, 3);
        }
        return sample;
    }

    // Starts the decoder `name` for `source` pictures delivered at `target` size, with a minimum output
    // sample count when `minSamples` is not 0.
    HRESULT BeginDecoder(const wchar_t* name, REFGUID codec, UINT32 minSamples, UINT sourceHeight = Height,
                         UINT targetHeight = Height, UINT width = Width) {
        m_query.decoder = 1;
        m_query.videoCodec = codec == MFVideoFormat_HEVC ? VideoCodecChoice::Hevc : VideoCodecChoice::H264;
        Create(name);
        if (minSamples != 0) {
            ComPtr<IMFAttributes> attributes;
            m_codec->GetAttributes(&attributes);
            attributes->SetUINT32(MF_SA_MINIMUM_OUTPUT_SAMPLE_COUNT, minSamples);
        }
        return BeginTypes(Type(codec, true, 0, width, sourceHeight).Get(),
                          Type(MFVideoFormat_NV12, true, 0, width, targetHeight).Get());
    }

    // Decodes one sample; its output or null.
    ComPtr<IMFSample> Decode(IMFSample* sample, HRESULT expected = S_OK) {
        EXPECT_EQ(NextEvent(), METransformNeedInput);
        EXPECT_EQ(m_codec->ProcessInput(0, sample, 0), S_OK);
        EXPECT_EQ(NextEvent(), METransformHaveOutput);
        MFT_OUTPUT_DATA_BUFFER out{};
        DWORD status = 0;
        EXPECT_EQ(m_codec->ProcessOutput(0, 1, &out, &status), expected);
        ComPtr<IMFSample> output;
        output.Attach(out.pSample);
        return output;
    }

    static double Mean(const std::vector<std::uint8_t>& luma) {
        double sum = 0;
        for (const std::uint8_t value : luma)
            sum += value;
        return luma.empty() ? 0.0 : sum / double(luma.size());
    }
};

TEST_F(AmdDecoderTest, DecodesEachInputIntoTheOutputTextureWithItsNumbersAndItsPool) {
    const std::vector<Packet> packets = Encoded(L"Corvane HEVC Encoder for AMD", MFVideoFormat_HEVC, 5);
    ASSERT_EQ(BeginDecoder(L"Corvane HEVC Decoder for AMD", MFVideoFormat_HEVC, 10), S_OK);
    EXPECT_EQ(m_observe().component, L"AMFVideoDecoderHW_H265_HEVC");
    EXPECT_EQ(PropertiesSet(),
              (std::vector<std::wstring>{L"TimestampMode", L"ReorderMode", L"LowLatencyDecode", L"ColorRange",
                                         L"SurfaceCopy", L"SurfaceCpu", L"SurfacePoolSize", L"CurrentSize",
                                         L"EnableDecoderSmartAccessVideo"}));
    EXPECT_EQ(Latest(L"TimestampMode"), 2);
    EXPECT_EQ(Latest(L"ColorRange"), 2);
    EXPECT_EQ(Latest(L"SurfacePoolSize"), 10);
    EXPECT_FALSE(m_observe().Latest(L"SurfaceCpu").boolValue);
    EXPECT_EQ(m_observe().initFormat, amf::AMF_SURFACE_NV12);

    // Frame 1 comes in three media buffers, frame 3 without numbers.
    for (UINT32 frame = 0; frame < packets.size(); ++frame) {
        const ComPtr<IMFSample> output = Decode(
            Compressed(packets[frame].bytes, packets[frame].time, frame, frame == 1 ? 3 : 1, frame != 3)
                .Get());
        ASSERT_TRUE(output) << frame;
        LONGLONG time = 0;
        output->GetSampleTime(&time);
        EXPECT_EQ(time, packets[frame].time);
        EXPECT_EQ(MFGetAttributeUINT32(output.Get(), KIV_GUID_FRAMENUM, 999), frame == 3 ? 999u : frame);
        EXPECT_EQ(MFGetAttributeUINT32(output.Get(), KIV_GUID_STREAMNUM, 999), frame == 3 ? 999u : 3u);
        EXPECT_EQ(MFGetAttributeUINT32(output.Get(), MFSampleExtension_Interlaced, 1), 0u);
        EXPECT_NEAR(Mean(SampleLuma(m_device.Get(), output.Get(), Width, Height).luma), 40 + 20 * frame, 3.0)
            << frame;
    }
    ShutdownCodec();

    // The pool follows the minimum output sample count: 2 below 3, at most 16.
    for (const auto& [samples, pool] : {std::pair<UINT32, std::int64_t>{1, 2}, {40, 16}, {0, 2}}) {
        ASSERT_EQ(BeginDecoder(L"Corvane H.264 Decoder for AMD", MFVideoFormat_H264, samples), S_OK);
        EXPECT_EQ(m_observe().component, L"AMFVideoDecoderUVD_H264_AVC");
        EXPECT_EQ(Latest(L"SurfacePoolSize"), pool) << samples;
        ShutdownCodec();
    }
}

TEST_F(AmdDecoderTest, ACodedPictureTallerThanTheTargetIsCutToItAndALargerTargetIsRefused) {
    // 1920x1088 pictures whose last 8 rows are white, delivered at 1920x1080.
    const std::vector<Packet> packets =
        Encoded(L"Corvane H.264 Encoder for AMD", MFVideoFormat_H264, 2, 1920, 1088, 8);
    ASSERT_EQ(BeginDecoder(L"Corvane H.264 Decoder for AMD", MFVideoFormat_H264, 0, 1088, 1080, 1920), S_OK);
    const amf::AMFVariantStruct size = m_observe().Latest(L"CurrentSize");
    EXPECT_EQ(size.sizeValue.width, 1920);
    EXPECT_EQ(size.sizeValue.height, 1088);
    EXPECT_EQ(m_observe().initHeight, 1080);
    for (UINT32 frame = 0; frame < packets.size(); ++frame) {
        const ComPtr<IMFSample> output =
            Decode(Compressed(packets[frame].bytes, packets[frame].time, frame).Get());
        ASSERT_TRUE(output);
        const SampleLumaPlane plane = SampleLuma(m_device.Get(), output.Get(), 1920, 1080);
        EXPECT_EQ(plane.textureHeight, 1080u);
        // No white row of the band reached the picture.
        EXPECT_NEAR(Mean(plane.luma), 40 + 20 * frame, 3.0);
        EXPECT_LT(*std::max_element(plane.luma.begin() + 1079 * 1920, plane.luma.end()), 120);
    }
    ShutdownCodec();

    EXPECT_EQ(BeginDecoder(L"Corvane H.264 Decoder for AMD", MFVideoFormat_H264, 0, Height, Height + 2),
              E_INVALIDARG);
    EXPECT_EQ(m_observe().liveObjects, m_liveBefore) << "a failed start leaves nothing allocated";
}

TEST_F(AmdDecoderTest, AnInputWithoutAPictureFailsAfterABoundedWaitAndTheNextInputDecodes) {
    const std::vector<Packet> packets = Encoded(L"Corvane H.264 Encoder for AMD", MFVideoFormat_H264, 1);
    ASSERT_EQ(BeginDecoder(L"Corvane H.264 Decoder for AMD", MFVideoFormat_H264, 0), S_OK);
    const std::vector<BYTE> noise(64, 0x5A);
    EXPECT_FALSE(Decode(Compressed(noise, 0, 0).Get(), HRESULT_FROM_WIN32(WAIT_TIMEOUT)));
    const ComPtr<IMFSample> output = Decode(Compressed(packets[0].bytes, packets[0].time, 1).Get());
    ASSERT_TRUE(output);
    EXPECT_EQ(MFGetAttributeUINT32(output.Get(), KIV_GUID_FRAMENUM, 999), 1u);

    // Other queries are refused.
    m_query = EncoderQuery{};
    m_query.deviceVendor = 0x1002;
    m_query.videoCodec = VideoCodecChoice::H264;
    try {
        Create(L"Corvane H.264 Decoder for AMD");
        ADD_FAILURE() << "an encoder query created a decoder";
    } catch (const kiv::mfcodec::Exception& e) {
        EXPECT_STREQ(e.expression, "m_extOpts.decoder == 1");
    }
}

} // namespace
