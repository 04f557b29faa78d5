// The H.264 and HEVC encoders: type order, key frames and clean points, parameter sets in every key frame
// and on the output type, the ICodecAPI settings, and decoded quality.

#include "TransformTestSupport.h"
#include "platform/mf/VideoProcessorTransform.h"
#include <codecapi.h>
#include <combaseapi.h>
#include <wmcodecdsp.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr LONGLONG FrameDuration = 166667;
const GUID FrameNumber = GuidFromString("5d1b8e6a-0c2f-4d1e-9a3b-7c6d5e4f3a2b");

struct Codec {
    const CLSID* clsid;
    const GUID* subtype;
    bool hevc;
};

const Codec H264{&CLSID_CMSH264EncoderMFT, &MFVideoFormat_H264, false};
const Codec Hevc{&CLSID_PlatformHevcEncoderMFT, &MFVideoFormat_HEVC, true};

ComPtr<IMFTransform> Encoder(const Codec& codec) {
    ComPtr<IMFTransform> encoder;
    EXPECT_EQ(CoCreateInstance(*codec.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&encoder)), S_OK);
    return encoder;
}

VARIANT Unsigned(UINT32 value) {
    VARIANT variant{};
    variant.vt = VT_UI4;
    variant.ulVal = value;
    return variant;
}

VARIANT Boolean(bool value) {
    VARIANT variant{};
    variant.vt = VT_BOOL;
    variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return variant;
}

void SetTypes(IMFTransform* encoder, const Codec& codec, UINT32 width, UINT32 height, UINT32 bitRate = 0) {
    ComPtr<IMFMediaType> output = MakeVideoType(*codec.subtype, width, height);
    output->SetUINT32(MF_MT_AVG_BITRATE, bitRate);
    ASSERT_EQ(encoder->SetOutputType(0, output.Get(), 0), S_OK);
    ASSERT_EQ(encoder->SetInputType(0, MakeVideoType(MFVideoFormat_NV12, width, height).Get(), 0), S_OK);
}

// NV12 pictures from the BGRA pattern, made by the platform's video processor.
class PictureSource {
public:
    PictureSource(int width, int height) : m_width(width), m_height(height) {
        VideoProcessorTransform::Create(&m_processor);
        m_processor->SetInputType(0, MakeVideoType(MFVideoFormat_ARGB32, width, height).Get(), 0);
        m_processor->SetOutputType(0, MakeVideoType(MFVideoFormat_NV12, width, height).Get(), 0);
    }
    ComPtr<IMFSample> Frame(int index) {
        const std::vector<std::uint8_t> bgra = BgraPicture(m_width, m_height, index);
        std::vector<ComPtr<IMFSample>> outputs;
        Feed(m_processor.Get(),
             MakeSample(bgra.data(), bgra.size(), index * FrameDuration, FrameDuration).Get(), outputs);
        outputs.at(0)->SetUINT32(FrameNumber, static_cast<UINT32>(index));
        return outputs.at(0);
    }
    Yuv420 Expected(int index) const {
        return ReferenceYuv(BgraPicture(m_width, m_height, index), m_width, m_height);
    }

private:
    int m_width;
    int m_height;
    ComPtr<IMFTransform> m_processor;
};

std::vector<ComPtr<IMFSample>> Encode(IMFTransform* encoder, PictureSource& source, int frames) {
    std::vector<ComPtr<IMFSample>> outputs;
    for (int i = 0; i < frames; ++i)
        EXPECT_EQ(Feed(encoder, source.Frame(i).Get(), outputs), S_OK);
    EXPECT_EQ(DrainAll(encoder, outputs), S_OK);
    return outputs;
}

class VideoEncoderTest : public ::testing::TestWithParam<Codec> {};

} // namespace

TEST_P(VideoEncoderTest, WantsTheOutputTypeFirstAndOffersTheMatchingInput) {
    const Codec& codec = GetParam();
    ComPtr<IMFTransform> encoder = Encoder(codec);
    EXPECT_EQ(encoder->SetInputType(0, MakeVideoType(MFVideoFormat_NV12, 320, 240).Get(), 0),
              MF_E_TRANSFORM_TYPE_NOT_SET);
    EXPECT_EQ(encoder->SetOutputType(0, MakeVideoType(*codec.subtype, 321, 240).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    ComPtr<IMFMediaType> output = MakeVideoType(*codec.subtype, 320, 240);
    output->SetUINT32(MF_MT_MPEG2_PROFILE, 12345);
    EXPECT_EQ(encoder->SetOutputType(0, output.Get(), 0), MF_E_INVALIDMEDIATYPE);
    ASSERT_EQ(encoder->SetOutputType(0, MakeVideoType(*codec.subtype, 320, 240).Get(), 0), S_OK);

    ComPtr<IMFMediaType> available;
    ASSERT_EQ(encoder->GetInputAvailableType(0, 0, &available), S_OK);
    UINT32 width = 0, height = 0;
    MFGetAttributeSize(available.Get(), MF_MT_FRAME_SIZE, &width, &height);
    EXPECT_EQ(width, 320u);
    EXPECT_EQ(height, 240u);
    EXPECT_EQ(encoder->SetInputType(0, MakeVideoType(MFVideoFormat_NV12, 640, 480).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(encoder->SetInputType(0, MakeVideoType(MFVideoFormat_ARGB32, 320, 240).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(encoder->SetInputType(0, MakeVideoType(MFVideoFormat_NV12, 320, 240, 30).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    ASSERT_EQ(encoder->SetInputType(0, available.Get(), 0), S_OK);

    // Both types known: the parameter sets are on the output type.
    ComPtr<IMFMediaType> current;
    ASSERT_EQ(encoder->GetOutputCurrentType(0, &current), S_OK);
    UINT32 size = 0;
    ASSERT_EQ(current->GetBlobSize(MF_MT_MPEG_SEQUENCE_HEADER, &size), S_OK);
    std::vector<std::uint8_t> header(size);
    current->GetBlob(MF_MT_MPEG_SEQUENCE_HEADER, header.data(), size, nullptr);
    const std::vector<int> expected = codec.hevc ? std::vector<int>{32, 33, 34} : std::vector<int>{7, 8};
    EXPECT_EQ(NalTypes(header, codec.hevc), expected);
}

TEST_P(VideoEncoderTest, KeyFramesFollowTheGopCarryParameterSetsAndDecodeFaithfully) {
    const Codec& codec = GetParam();
    ComPtr<IMFTransform> encoder = Encoder(codec);
    ComPtr<ICodecAPI> api;
    ASSERT_EQ(encoder->QueryInterface(&api), S_OK);
    VARIANT value = Unsigned(10);
    ASSERT_EQ(api->SetValue(&CODECAPI_AVEncMPVGOPSize, &value), S_OK);
    value = Boolean(true);
    ASSERT_EQ(api->SetValue(&CODECAPI_AVLowLatencyMode, &value), S_OK);
    SetTypes(encoder.Get(), codec, 320, 240);
    PictureSource source(320, 240);
    const std::vector<ComPtr<IMFSample>> units = Encode(encoder.Get(), source, 30);
    ASSERT_EQ(units.size(), 30u);

    ComPtr<IMFMediaType> current;
    ASSERT_EQ(encoder->GetOutputCurrentType(0, &current), S_OK);
    TestDecoder decoder(codec.hevc ? TestDecoder::Codec::Hevc : TestDecoder::Codec::H264);
    for (int i = 0; i < 30; ++i) {
        IMFSample* unit = units[i].Get();
        EXPECT_EQ(IsCleanPoint(unit), i % 10 == 0) << "frame " << i;
        EXPECT_EQ(TimeOf(unit), i * FrameDuration);
        EXPECT_EQ(MFGetAttributeUINT32(unit, FrameNumber, 999), UINT32(i));
        const std::vector<std::uint8_t> bytes = BytesOf(unit);
        const std::vector<int> types = NalTypes(bytes, codec.hevc);
        const int sps = codec.hevc ? 33 : 7;
        EXPECT_EQ(std::count(types.begin(), types.end(), sps), i % 10 == 0 ? 1 : 0) << "frame " << i;
        decoder.Decode(bytes);
    }
    decoder.Flush();
    ASSERT_EQ(decoder.Pictures().size(), 30u);
    for (int i = 0; i < 30; i += 7)
        EXPECT_GT(Psnr(decoder.Pictures()[i], source.Expected(i)), 35.0) << "frame " << i;
}

TEST_P(VideoEncoderTest, LowLatencyHandsEveryFrameOutAtOnce) {
    const Codec& codec = GetParam();
    ComPtr<IMFTransform> encoder = Encoder(codec);
    ComPtr<IMFAttributes> attributes;
    ASSERT_EQ(encoder->GetAttributes(&attributes), S_OK);
    // What an activation object passes on: low latency unless ICodecAPI says otherwise.
    ASSERT_EQ(attributes->SetUINT32(MF_LOW_LATENCY, 1), S_OK);
    SetTypes(encoder.Get(), codec, 160, 96);
    PictureSource source(160, 96);
    for (int i = 0; i < 5; ++i) {
        std::vector<ComPtr<IMFSample>> outputs;
        ASSERT_EQ(Feed(encoder.Get(), source.Frame(i).Get(), outputs), S_OK);
        EXPECT_EQ(outputs.size(), 1u) << "frame " << i;
    }
}

// Forced by the setting (the next picture) or by the picture's own mark (that very picture).
TEST_P(VideoEncoderTest, AForcedKeyFrameIsTheNextFrameAndOnlyItsSettingChangesWhileStreaming) {
    const Codec& codec = GetParam();
    ComPtr<IMFTransform> encoder = Encoder(codec);
    ComPtr<ICodecAPI> api;
    ASSERT_EQ(encoder->QueryInterface(&api), S_OK);
    VARIANT value = Unsigned(0xFFFFFFFF);
    ASSERT_EQ(api->SetValue(&CODECAPI_AVEncMPVGOPSize, &value), S_OK);
    EXPECT_EQ(api->IsModifiable(&CODECAPI_AVEncMPVGOPSize), S_OK);
    SetTypes(encoder.Get(), codec, 160, 96);
    PictureSource source(160, 96);
    std::vector<ComPtr<IMFSample>> outputs;
    for (int i = 0; i < 12; ++i) {
        if (i == 7) {
            value = Unsigned(1);
            ASSERT_EQ(api->SetValue(&CODECAPI_AVEncVideoForceKeyFrame, &value), S_OK);
        }
        const ComPtr<IMFSample> picture = source.Frame(i);
        if (i == 4 || i == 10) {
            ASSERT_EQ(picture->SetUINT32(MFSampleExtension_VideoEncodePictureType,
                                         i == 4 ? eAVEncH264PictureType_IDR : eAVEncH264PictureType_P),
                      S_OK);
        }
        ASSERT_EQ(Feed(encoder.Get(), picture.Get(), outputs), S_OK);
    }
    EXPECT_EQ(api->IsModifiable(&CODECAPI_AVEncMPVGOPSize), S_FALSE);
    value = Unsigned(30);
    EXPECT_EQ(api->SetValue(&CODECAPI_AVEncMPVGOPSize, &value), MF_E_INVALIDREQUEST);
    ASSERT_EQ(DrainAll(encoder.Get(), outputs), S_OK);
    ASSERT_EQ(outputs.size(), 12u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(IsCleanPoint(outputs[i].Get()), i == 0 || i == 4 || i == 7) << "frame " << i;

    // A drained stream ends; the next picture begins a new one with a key frame.
    std::vector<ComPtr<IMFSample>> next;
    ASSERT_EQ(Feed(encoder.Get(), source.Frame(12).Get(), next), S_OK);
    ASSERT_EQ(DrainAll(encoder.Get(), next), S_OK);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_TRUE(IsCleanPoint(next[0].Get()));
}

TEST_P(VideoEncoderTest, RefusesSettingsItDoesNotHave) {
    const Codec& codec = GetParam();
    ComPtr<ICodecAPI> api;
    ASSERT_EQ(Encoder(codec)->QueryInterface(&api), S_OK);
    VARIANT value = Boolean(true);
    EXPECT_EQ(api->SetValue(&CODECAPI_AVEncMPVGOPSize, &value), E_INVALIDARG);
    value = Unsigned(eAVEncCommonRateControlMode_Quality);
    EXPECT_EQ(api->SetValue(&CODECAPI_AVEncCommonRateControlMode, &value), E_INVALIDARG);
    value = Unsigned(eAVEncSliceControlMode_Bits);
    EXPECT_EQ(api->SetValue(&CODECAPI_AVEncSliceControlMode, &value), E_INVALIDARG);
    EXPECT_EQ(api->IsSupported(&CODECAPI_AVEncH264CABACEnable), codec.hevc ? E_NOTIMPL : S_OK);
    EXPECT_EQ(api->SetValue(&CODECAPI_AVEncCommonRateControlMode, nullptr), E_POINTER);
    VARIANT fetched{};
    ASSERT_EQ(api->GetValue(&CODECAPI_AVEncCommonRateControlMode, &fetched), S_OK);
    EXPECT_EQ(fetched.vt, VT_UI4);
    EXPECT_EQ(fetched.ulVal, UINT32(eAVEncCommonRateControlMode_CBR));
}

TEST_P(VideoEncoderTest, ReadsNv12TexturesInPlace) {
    const Codec& codec = GetParam();
    ComPtr<ID3D11Device> device;
    const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1, D3D11_SDK_VERSION,
                                &device, nullptr, nullptr),
              S_OK);
    PictureSource source(64, 64);
    const std::vector<std::uint8_t> nv12 = BytesOf(source.Frame(0).Get());
    D3D11_TEXTURE2D_DESC desc{
        64, 64, 1, 1, DXGI_FORMAT_NV12, {1, 0}, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET, 0, 0};
    const D3D11_SUBRESOURCE_DATA data{nv12.data(), 64, 0};
    ComPtr<ID3D11Texture2D> texture;
    ASSERT_EQ(device->CreateTexture2D(&desc, &data, &texture), S_OK);
    ComPtr<IMFSample> sample;
    ASSERT_EQ(MFCreateVideoSampleFromSurface(texture.Get(), &sample), S_OK);

    ComPtr<IMFTransform> encoder = Encoder(codec);
    SetTypes(encoder.Get(), codec, 64, 64);
    std::vector<ComPtr<IMFSample>> units;
    ASSERT_EQ(Feed(encoder.Get(), sample.Get(), units), S_OK);
    ASSERT_EQ(DrainAll(encoder.Get(), units), S_OK);
    ASSERT_EQ(units.size(), 1u);
    TestDecoder decoder(codec.hevc ? TestDecoder::Codec::Hevc : TestDecoder::Codec::H264);
    decoder.Decode(BytesOf(units[0].Get()));
    decoder.Flush();
    ASSERT_EQ(decoder.Pictures().size(), 1u);
    EXPECT_GT(Psnr(decoder.Pictures()[0], source.Expected(0)), 35.0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoEncoderTest, ::testing::Values(H264, Hevc),
                         [](const auto& info) { return std::string(info.param.hevc ? "Hevc" : "H264"); });

TEST(H264Encoder, SlicesRowsAndEntropyCodingFollowTheSettings) {
    ComPtr<IMFTransform> encoder = Encoder(H264);
    ComPtr<ICodecAPI> api;
    ASSERT_EQ(encoder->QueryInterface(&api), S_OK);
    VARIANT value = Boolean(false);
    ASSERT_EQ(api->SetValue(&CODECAPI_AVEncH264CABACEnable, &value), S_OK);
    value = Unsigned(eAVEncSliceControlMode_MBRow);
    ASSERT_EQ(api->SetValue(&CODECAPI_AVEncSliceControlMode, &value), S_OK);
    value = Unsigned(5);
    ASSERT_EQ(api->SetValue(&CODECAPI_AVEncSliceControlSize, &value), S_OK);
    // 720 rows are 45 macroblock rows: nine slices of five rows.
    SetTypes(encoder.Get(), H264, 320, 720);
    PictureSource source(320, 720);
    const std::vector<ComPtr<IMFSample>> units = Encode(encoder.Get(), source, 2);
    ASSERT_EQ(units.size(), 2u);
    const std::vector<int> types = NalTypes(BytesOf(units[1].Get()), false);
    EXPECT_EQ(std::count(types.begin(), types.end(), 1), 9);

    // The picture parameter set's entropy_coding_mode_flag (after two Exp-Golomb zeros, "1" each) is 0.
    ComPtr<IMFMediaType> current;
    ASSERT_EQ(encoder->GetOutputCurrentType(0, &current), S_OK);
    std::vector<std::uint8_t> header(256);
    UINT32 size = 0;
    ASSERT_EQ(current->GetBlob(MF_MT_MPEG_SEQUENCE_HEADER, header.data(), 256, &size), S_OK);
    header.resize(size);
    static const std::uint8_t PpsStart[] = {0, 0, 1, 0x68};
    const auto pps = std::search(header.begin(), header.end(), std::begin(PpsStart), std::end(PpsStart));
    ASSERT_NE(pps, header.end());
    EXPECT_EQ(pps[4] & 0xE0, 0xC0);
}

TEST(H264Encoder, KeepsToTheBitRateOfTheType) {
    auto encodedBytes = [](UINT32 bitRate) {
        ComPtr<IMFTransform> encoder = Encoder(H264);
        SetTypes(encoder.Get(), H264, 320, 240, bitRate);
        PictureSource source(320, 240);
        std::size_t total = 0;
        for (const auto& unit : Encode(encoder.Get(), source, 60))
            total += BytesOf(unit.Get()).size();
        return total;
    };
    // One second at 100 kbit/s is about 12.5 kB; constant quality spends far more on this moving picture.
    const std::size_t limited = encodedBytes(100'000);
    EXPECT_LT(limited, 25'000u);
    EXPECT_GT(encodedBytes(0), limited * 2);
}
