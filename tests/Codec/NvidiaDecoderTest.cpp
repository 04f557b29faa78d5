// The NVDEC decoder transforms over the fake CUDA and NVDEC runtimes, fed with what the NVENC transform made:
// each displayed picture reaches the one output texture before its have-output, after the display delay the
// query chose, with the displayed picture's time and the latest input's numbers.

#include "NvidiaTransformTest.h"
#include "SampleLuma.h"

namespace {

struct Packet {
    std::vector<BYTE> bytes;
    LONGLONG time;
};

using FakeNvdecObservationsFunction = int (*)(unsigned*, CUVIDDECODECREATEINFO*);

class NvidiaDecoderTest : public NvidiaTransformTest {
protected:
    // Twelve HEVC pictures of the grey levels 40 + 12 n, from the NVENC transform.
    std::vector<Packet> EncodedPictures() {
        Create(L"Corvane HEVC Encoder for Nvidia");
        EXPECT_EQ(Begin(MFVideoFormat_HEVC), S_OK);
        std::vector<Packet> packets;
        const ComPtr<ID3D11Texture2D> texture = Texture(0);
        ComPtr<ID3D11DeviceContext> context;
        m_device->GetImmediateContext(&context);
        for (UINT32 frame = 0; frame < 12; ++frame) {
            context->CopyResource(texture.Get(), Texture(std::uint8_t(40 + 12 * frame)).Get());
            const ComPtr<IMFSample> packet = Encode(texture.Get(), frame);
            packets.push_back({Bytes(packet.Get()), LONGLONG(frame) * 166'667});
        }
        m_codec->Shutdown();
        m_codec = nullptr;
        return packets;
    }

    // The mean luma of an output sample's texture, and its height.
    std::pair<double, UINT> Picture(IMFSample* sample) {
        const SampleLumaPlane plane = SampleLuma(m_device.Get(), sample, Width, Height);
        double sum = 0;
        for (const std::uint8_t value : plane.luma)
            sum += value;
        return {plane.luma.empty() ? 0.0 : sum / double(plane.luma.size()), plane.textureHeight};
    }

    ComPtr<IMFSample> Compressed(const Packet& packet, UINT32 frame) {
        ComPtr<IMFSample> sample;
        ComPtr<IMFMediaBuffer> buffer;
        MFCreateSample(&sample);
        MFCreateMemoryBuffer(DWORD(packet.bytes.size()), &buffer);
        BYTE* bytes = nullptr;
        buffer->Lock(&bytes, nullptr, nullptr);
        std::memcpy(bytes, packet.bytes.data(), packet.bytes.size());
        buffer->Unlock();
        buffer->SetCurrentLength(DWORD(packet.bytes.size()));
        sample->AddBuffer(buffer.Get());
        sample->SetSampleTime(packet.time);
        sample->SetSampleDuration(166'667);
        sample->SetUINT32(KIV_GUID_FRAMENUM, frame);
        sample->SetUINT32(KIV_GUID_STREAMNUM, 3);
        return sample;
    }

    int NvdecObservations(unsigned& delay, CUVIDDECODECREATEINFO& decoder) {
        const HMODULE fake = LoadLibraryW((FakeRuntimes("nvidia") + L"/libnvcuvid.so.1").c_str());
        const auto observe =
            reinterpret_cast<FakeNvdecObservationsFunction>(GetProcAddress(fake, "fakeNvdecObservations"));
        const int complaints = observe(&delay, &decoder);
        FreeLibrary(fake);
        return complaints;
    }
};

TEST_F(NvidiaDecoderTest, EachDisplayedPictureIsOutputBeforeTheNextInputAfterTheDisplayDelay) {
    const std::vector<Packet> packets = EncodedPictures();
    unsigned delay = 0;
    CUVIDDECODECREATEINFO decoder{};
    const int complaintsBefore = NvdecObservations(delay, decoder);

    // HEVC's delay of 1 doubled by a query for better pictures: 2, with 3 output surfaces.
    m_query.speedQualityPreset = 1;
    Create(L"Corvane HEVC Decoder for Nvidia");
    ASSERT_EQ(BeginTypes(Type(MFVideoFormat_HEVC).Get(), Type(MFVideoFormat_NV12).Get()), S_OK);
    for (UINT32 frame = 0; frame < packets.size(); ++frame) {
        ASSERT_EQ(NextEvent(), METransformNeedInput) << frame;
        ASSERT_EQ(m_codec->ProcessInput(0, Compressed(packets[frame], frame).Get(), 0), S_OK);
        if (frame < 2)
            continue;
        // The picture of two inputs ago, with its own time and the latest input's numbers.
        ASSERT_EQ(NextEvent(), METransformHaveOutput) << frame;
        MFT_OUTPUT_DATA_BUFFER out{};
        DWORD status = 0;
        ASSERT_EQ(m_codec->ProcessOutput(0, 1, &out, &status), S_OK);
        ComPtr<IMFSample> sample;
        sample.Attach(out.pSample);
        LONGLONG time = 0;
        sample->GetSampleTime(&time);
        EXPECT_EQ(time, packets[frame - 2].time);
        EXPECT_EQ(MFGetAttributeUINT32(sample.Get(), KIV_GUID_FRAMENUM, 999), frame);
        EXPECT_EQ(MFGetAttributeUINT32(sample.Get(), KIV_GUID_STREAMNUM, 999), 3u);
        EXPECT_NEAR(Picture(sample.Get()).first, 40 + 12 * (frame - 2), 3.0) << frame;
    }
    ASSERT_EQ(NextEvent(), METransformNeedInput);
    EXPECT_EQ(NvdecObservations(delay, decoder), complaintsBefore);
    EXPECT_EQ(delay, 2u);
    EXPECT_EQ(decoder.ulNumOutputSurfaces, 3u);
    EXPECT_EQ(decoder.ulTargetWidth, Width);
    EXPECT_EQ(decoder.ulTargetHeight, Height);
    EXPECT_EQ(m_codec->SetOutputType(0, Type(MFVideoFormat_NV12, true, BitRate, 640, 480).Get(), 0), S_OK);
    m_codec->Shutdown();

    // A faster query: no delay, two output surfaces; an odd output height gives an even texture.
    m_query.speedQualityPreset = -1;
    Create(L"Corvane HEVC Decoder for Nvidia");
    ASSERT_EQ(
        BeginTypes(Type(MFVideoFormat_HEVC).Get(), Type(MFVideoFormat_NV12, true, 0, Width, 1081).Get()),
        S_OK);
    ASSERT_EQ(NextEvent(), METransformNeedInput);
    ASSERT_EQ(m_codec->ProcessInput(0, Compressed(packets[0], 0).Get(), 0), S_OK);
    ASSERT_EQ(NextEvent(), METransformHaveOutput);
    MFT_OUTPUT_DATA_BUFFER out{};
    DWORD status = 0;
    ASSERT_EQ(m_codec->ProcessOutput(0, 1, &out, &status), S_OK);
    ComPtr<IMFSample> sample;
    sample.Attach(out.pSample);
    const auto [luma, rows] = Picture(sample.Get());
    EXPECT_NEAR(luma, 40, 3.0);
    EXPECT_EQ(rows, 1082u);
    EXPECT_EQ(NvdecObservations(delay, decoder), complaintsBefore);
    EXPECT_EQ(delay, 0u);
    EXPECT_EQ(decoder.ulNumOutputSurfaces, 2u);
}

TEST_F(NvidiaDecoderTest, ANewPictureSizeInTheStreamFailsItsInput) {
    const std::vector<Packet> packets = EncodedPictures();
    // A stream of another size, as a new sequence header would bring.
    const CommandResult other =
        RunCommand({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=gray:s=160x120:r=60", "-frames:v",
                    "1", "-c:v", "libx265", "-x265-params", "log-level=error", "-f", "hevc", "-"});
    ASSERT_FALSE(other.output.empty());
    Create(L"Corvane HEVC Decoder for Nvidia");
    ASSERT_EQ(BeginTypes(Type(MFVideoFormat_HEVC).Get(), Type(MFVideoFormat_NV12).Get()), S_OK);
    ASSERT_EQ(NextEvent(), METransformNeedInput);
    ASSERT_EQ(m_codec->ProcessInput(0, Compressed(packets[0], 0).Get(), 0), S_OK);
    ASSERT_EQ(NextEvent(), METransformNeedInput);
    const Packet resized{std::vector<BYTE>(other.output.begin(), other.output.end()), 166'667};
    EXPECT_TRUE(FAILED(m_codec->ProcessInput(0, Compressed(resized, 1).Get(), 0)));
    EXPECT_TRUE(log.Matches(".*\\(!m_decoder\\) does not hold .*"));
}

TEST_F(NvidiaDecoderTest, AnInputWithoutAFrameSizeCannotStream) {
    Create(L"Corvane H264 Decoder for Nvidia");
    EXPECT_EQ(BeginTypes(Type(MFVideoFormat_H264, true, 0, 0, 0).Get(), Type(MFVideoFormat_NV12).Get()),
              MF_E_ATTRIBUTENOTFOUND);
}

} // namespace
