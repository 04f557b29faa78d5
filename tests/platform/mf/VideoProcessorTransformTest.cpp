// The video processor: type negotiation, BGRA to NV12 against an independent BT.601 reference, scaling with
// the aspect kept, rotation, pass-through, and texture-backed samples read and written in place.

#include "TransformTestSupport.h"
#include <combaseapi.h>
#include <d3d11.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wmcodecdsp.h>

#include <gtest/gtest.h>

namespace {

// A GUID the processor knows nothing about, standing for the capture's frame number.
const GUID FrameNumber = GuidFromString("5d1b8e6a-0c2f-4d1e-9a3b-7c6d5e4f3a2b");

ComPtr<IMFTransform> Processor() {
    ComPtr<IMFTransform> processor;
    EXPECT_EQ(
        CoCreateInstance(CLSID_VideoProcessorMFT, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&processor)),
        S_OK);
    return processor;
}

void SetTypes(IMFTransform* processor, IMFMediaType* input, IMFMediaType* output) {
    ASSERT_EQ(processor->SetOutputType(0, output, 0), S_OK);
    ASSERT_EQ(processor->SetInputType(0, input, 0), S_OK);
}

ComPtr<IMFSample> ConvertOne(IMFTransform* processor, const std::vector<std::uint8_t>& bgra) {
    std::vector<ComPtr<IMFSample>> outputs;
    EXPECT_EQ(Feed(processor, MakeSample(bgra.data(), bgra.size(), 1000, 166666).Get(), outputs), S_OK);
    EXPECT_EQ(outputs.size(), 1u);
    return outputs.empty() ? nullptr : outputs.front();
}

// BGRA of one colour.
std::vector<std::uint8_t> Solid(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = b;
        pixels[i + 1] = g;
        pixels[i + 2] = r;
        pixels[i + 3] = 255;
    }
    return pixels;
}

ComPtr<ID3D11Device> MakeDevice() {
    ComPtr<ID3D11Device> device;
    const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                 &level, 1, D3D11_SDK_VERSION, &device, nullptr, nullptr))) {
        D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, &level, 1,
                          D3D11_SDK_VERSION, &device, nullptr, nullptr);
    }
    return device;
}

} // namespace

TEST(VideoProcessorTypes, TakesBgraInAndNv12OrBgraOutAtEvenSizes) {
    ComPtr<IMFTransform> processor = Processor();
    EXPECT_EQ(processor->SetInputType(0, MakeVideoType(MFVideoFormat_NV12, 64, 64).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(processor->SetOutputType(0, MakeVideoType(MFVideoFormat_NV12, 63, 64).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(processor->SetOutputType(0, MakeVideoType(MFVideoFormat_H264, 64, 64).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    ComPtr<IMFMediaType> bt709 = MakeVideoType(MFVideoFormat_NV12, 64, 64);
    bt709->SetUINT32(MF_MT_YUV_MATRIX, MFVideoTransferMatrix_BT709);
    EXPECT_EQ(processor->SetOutputType(0, bt709.Get(), 0), MF_E_INVALIDMEDIATYPE);

    ComPtr<IMFMediaType> available;
    EXPECT_EQ(processor->GetOutputAvailableType(0, 0, &available), MF_E_TRANSFORM_TYPE_NOT_SET);
    // An odd BGRA picture is fine as input.
    ASSERT_EQ(processor->SetInputType(0, MakeVideoType(MFVideoFormat_ARGB32, 63, 47).Get(), 0), S_OK);
    ASSERT_EQ(processor->GetOutputAvailableType(0, 0, &available), S_OK);
    GUID subtype = GUID_NULL;
    available->GetGUID(MF_MT_SUBTYPE, &subtype);
    EXPECT_EQ(subtype, MFVideoFormat_NV12);
    EXPECT_EQ(processor->GetOutputAvailableType(0, 2, &available), MF_E_NO_MORE_TYPES);
    EXPECT_EQ(available, nullptr);

    EXPECT_EQ(
        processor->SetOutputType(0, MakeVideoType(MFVideoFormat_NV12, 64, 48).Get(), MFT_SET_TYPE_TEST_ONLY),
        S_OK);
    ComPtr<IMFMediaType> current;
    EXPECT_EQ(processor->GetOutputCurrentType(0, &current), MF_E_TRANSFORM_TYPE_NOT_SET);
    EXPECT_EQ(processor->SetOutputType(1, MakeVideoType(MFVideoFormat_NV12, 64, 48).Get(), 0),
              MF_E_INVALIDSTREAMNUMBER);
}

TEST(VideoProcessorTypes, FrameRatesMustAgreeUnlessRateConversionIsOff) {
    ComPtr<IMFTransform> processor = Processor();
    ASSERT_EQ(processor->SetInputType(0, MakeVideoType(MFVideoFormat_ARGB32, 64, 64, 60).Get(), 0), S_OK);
    EXPECT_EQ(processor->SetOutputType(0, MakeVideoType(MFVideoFormat_NV12, 64, 64, 30).Get(), 0),
              MF_E_INVALIDMEDIATYPE);
    ComPtr<IMFAttributes> attributes;
    ASSERT_EQ(processor->GetAttributes(&attributes), S_OK);
    EXPECT_EQ(MFGetAttributeUINT32(attributes.Get(), MF_SA_D3D11_AWARE, 0), 1u);
    ASSERT_EQ(attributes->SetUINT32(MF_XVP_DISABLE_FRC, TRUE), S_OK);
    EXPECT_EQ(processor->SetOutputType(0, MakeVideoType(MFVideoFormat_NV12, 64, 64, 30).Get(), 0), S_OK);
}

TEST(VideoProcessorConversion, MatchesTheBt601ReferenceAndCarriesTimesAndAttributes) {
    constexpr int Width = 96, Height = 64;
    ComPtr<IMFTransform> processor = Processor();
    SetTypes(processor.Get(), MakeVideoType(MFVideoFormat_ARGB32, Width, Height).Get(),
             MakeVideoType(MFVideoFormat_NV12, Width, Height).Get());
    const std::vector<std::uint8_t> picture = BgraPicture(Width, Height, 5);
    ComPtr<IMFSample> input = MakeSample(picture.data(), picture.size(), 1234, 5678);
    input->SetUINT32(FrameNumber, 42);
    input->SetUINT32(MFSampleExtension_CleanPoint, 1);
    std::vector<ComPtr<IMFSample>> outputs;
    ASSERT_EQ(Feed(processor.Get(), input.Get(), outputs), S_OK);
    ASSERT_EQ(outputs.size(), 1u);
    IMFSample* output = outputs[0].Get();
    EXPECT_EQ(TimeOf(output), 1234);
    LONGLONG duration = 0;
    output->GetSampleDuration(&duration);
    EXPECT_EQ(duration, 5678);
    EXPECT_EQ(MFGetAttributeUINT32(output, FrameNumber, 0), 42u);
    const Yuv420 converted = FromNv12(BytesOf(output), Width, Height, Width);
    EXPECT_LE(MaxDifference(converted, ReferenceYuv(picture, Width, Height)), 2);
}

TEST(VideoProcessorConversion, ScalesToTheOutputSizeKeepingTheAspectWithBlackBars) {
    ComPtr<IMFTransform> processor = Processor();
    // 64x32 into 64x64: the picture fills the middle 32 rows.
    SetTypes(processor.Get(), MakeVideoType(MFVideoFormat_ARGB32, 64, 32).Get(),
             MakeVideoType(MFVideoFormat_NV12, 64, 64).Get());
    ComPtr<IMFSample> output = ConvertOne(processor.Get(), Solid(64, 32, 255, 255, 255));
    ASSERT_NE(output, nullptr);
    const Yuv420 yuv = FromNv12(BytesOf(output.Get()), 64, 64, 64);
    EXPECT_EQ(yuv.y[0], 16);             // black bar above
    EXPECT_EQ(yuv.y[63 * 64 + 63], 16);  // black bar below
    EXPECT_EQ(yuv.y[32 * 64 + 10], 235); // white picture
    EXPECT_EQ(yuv.u[0], 128);
    EXPECT_EQ(yuv.y[15 * 64 + 5], 16);
    EXPECT_EQ(yuv.y[16 * 64 + 5], 235);

    // Down to half size, same aspect: a left-red right-blue picture keeps its halves.
    ComPtr<IMFTransform> scaler = Processor();
    SetTypes(scaler.Get(), MakeVideoType(MFVideoFormat_ARGB32, 128, 64).Get(),
             MakeVideoType(MFVideoFormat_ARGB32, 64, 32).Get());
    std::vector<std::uint8_t> halves = Solid(128, 64, 0, 0, 255);
    for (int row = 0; row < 64; ++row)
        for (int column = 64; column < 128; ++column) {
            halves[(std::size_t(row) * 128 + column) * 4] = 255;
            halves[(std::size_t(row) * 128 + column) * 4 + 2] = 0;
        }
    output = ConvertOne(scaler.Get(), halves);
    ASSERT_NE(output, nullptr);
    const std::vector<std::uint8_t> scaled = BytesOf(output.Get());
    ASSERT_EQ(scaled.size(), 64u * 32 * 4);
    EXPECT_EQ(scaled[(10 * 64 + 5) * 4 + 2], 255);  // red on the left
    EXPECT_EQ(scaled[(10 * 64 + 60) * 4 + 0], 255); // blue on the right
}

TEST(VideoProcessorConversion, PutsThePictureIntoTheDestinationRectangleOnBlack) {
    ComPtr<IMFTransform> processor = Processor();
    ComPtr<IMFVideoProcessorControl> control;
    ASSERT_EQ(processor->QueryInterface(&control), S_OK);
    EXPECT_EQ(control->SetDestinationRectangle(nullptr), E_POINTER);
    RECT empty{10, 10, 10, 20};
    EXPECT_EQ(control->SetDestinationRectangle(&empty), E_INVALIDARG);
    RECT outside{-2, 0, 10, 10};
    EXPECT_EQ(control->SetDestinationRectangle(&outside), E_INVALIDARG);

    // A 16x8 picture at 1:1 in a 64x32 frame, centred: nothing scaled, black all around.
    RECT area{24, 12, 40, 20};
    ASSERT_EQ(control->SetDestinationRectangle(&area), S_OK);
    SetTypes(processor.Get(), MakeVideoType(MFVideoFormat_ARGB32, 16, 8).Get(),
             MakeVideoType(MFVideoFormat_NV12, 64, 32).Get());
    std::vector<std::uint8_t> picture = Solid(16, 8, 255, 255, 255);
    for (std::size_t i = 0; i < picture.size(); i += 16 * 4)
        std::fill_n(picture.begin() + std::ptrdiff_t(i), 4, std::uint8_t{0}); // a black first column
    ComPtr<IMFSample> output = ConvertOne(processor.Get(), picture);
    ASSERT_NE(output, nullptr);
    const Yuv420 yuv = FromNv12(BytesOf(output.Get()), 64, 32, 64);
    EXPECT_EQ(yuv.y[11 * 64 + 30], 16);
    EXPECT_EQ(yuv.y[12 * 64 + 30], 235);
    EXPECT_EQ(yuv.y[19 * 64 + 30], 235);
    EXPECT_EQ(yuv.y[20 * 64 + 30], 16);
    EXPECT_EQ(yuv.y[15 * 64 + 24], 16); // the picture's own black column, not scaled away
    EXPECT_EQ(yuv.y[15 * 64 + 25], 235);
    EXPECT_EQ(yuv.y[15 * 64 + 39], 235);
    EXPECT_EQ(yuv.y[15 * 64 + 40], 16);

    // A rectangle that leaves the output fails the conversion instead of writing outside it.
    RECT tooWide{40, 0, 72, 8};
    ASSERT_EQ(control->SetDestinationRectangle(&tooWide), S_OK);
    std::vector<ComPtr<IMFSample>> outputs;
    EXPECT_TRUE(
        FAILED(Feed(processor.Get(), MakeSample(picture.data(), picture.size(), 0, 1).Get(), outputs)));
}

TEST(VideoProcessorConversion, TurnsThePictureUprightOnlyWhenAsked) {
    // A 4x2 picture stored turned by 90 degrees: red in its first column.
    auto run = [](bool upright) {
        ComPtr<IMFTransform> processor = Processor();
        ComPtr<IMFMediaType> input = MakeVideoType(MFVideoFormat_ARGB32, 4, 2);
        input->SetUINT32(MF_MT_VIDEO_ROTATION, 90);
        ComPtr<IMFVideoProcessorControl> control;
        EXPECT_EQ(processor->QueryInterface(&control), S_OK);
        if (upright) {
            EXPECT_EQ(control->SetRotation(ROTATION_NORMAL), S_OK);
        }
        SetTypes(processor.Get(), input.Get(),
                 MakeVideoType(MFVideoFormat_ARGB32, upright ? 2 : 4, upright ? 4 : 2).Get());
        std::vector<std::uint8_t> picture = Solid(4, 2, 0, 0, 0);
        picture[2] = 255;         // row 0, column 0
        picture[4 * 4 + 2] = 255; // row 1, column 0
        return BytesOf(ConvertOne(processor.Get(), picture).Get());
    };
    const std::vector<std::uint8_t> kept = run(false);
    EXPECT_EQ(kept[2], 255);
    EXPECT_EQ(kept[4 * 4 + 2], 255);
    // Turned clockwise, the first column becomes the top row.
    const std::vector<std::uint8_t> turned = run(true);
    ASSERT_EQ(turned.size(), 2u * 4 * 4);
    EXPECT_EQ(turned[2], 255);
    EXPECT_EQ(turned[4 + 2], 255);
    EXPECT_EQ(turned[2 * 4 + 2], 0);

    ComPtr<IMFVideoProcessorControl> control;
    ASSERT_EQ(Processor()->QueryInterface(&control), S_OK);
    EXPECT_EQ(control->SetRotation(static_cast<MF_VIDEO_PROCESSOR_ROTATION>(7)), E_INVALIDARG);
    EXPECT_EQ(control->SetMirror(MIRROR_HORIZONTAL), E_NOTIMPL);
}

TEST(VideoProcessorConversion, PassesBgraOfTheSameSizeThroughWithoutACopy) {
    ComPtr<IMFTransform> processor = Processor();
    SetTypes(processor.Get(), MakeVideoType(MFVideoFormat_ARGB32, 32, 32).Get(),
             MakeVideoType(MFVideoFormat_ARGB32, 32, 32).Get());
    const std::vector<std::uint8_t> picture = BgraPicture(32, 32, 0);
    ComPtr<IMFSample> input = MakeSample(picture.data(), picture.size());
    std::vector<ComPtr<IMFSample>> outputs;
    ASSERT_EQ(Feed(processor.Get(), input.Get(), outputs), S_OK);
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].Get(), input.Get());
}

TEST(VideoProcessorProtocol, HoldsOneInputAndProvidesItsOwnSamples) {
    ComPtr<IMFTransform> processor = Processor();
    const std::vector<std::uint8_t> picture = BgraPicture(16, 16, 0);
    ComPtr<IMFSample> input = MakeSample(picture.data(), picture.size());
    EXPECT_EQ(processor->ProcessInput(0, input.Get(), 0), MF_E_TRANSFORM_TYPE_NOT_SET);
    SetTypes(processor.Get(), MakeVideoType(MFVideoFormat_ARGB32, 16, 16).Get(),
             MakeVideoType(MFVideoFormat_NV12, 16, 16).Get());
    MFT_OUTPUT_STREAM_INFO info{};
    ASSERT_EQ(processor->GetOutputStreamInfo(0, &info), S_OK);
    EXPECT_NE(info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES, 0u);
    EXPECT_EQ(processor->GetOutputStreamInfo(0, nullptr), E_POINTER);

    MFT_OUTPUT_DATA_BUFFER buffer{0, nullptr, 0, nullptr};
    DWORD status = 0;
    EXPECT_EQ(processor->ProcessOutput(0, 1, &buffer, &status), MF_E_TRANSFORM_NEED_MORE_INPUT);
    ASSERT_EQ(processor->ProcessInput(0, input.Get(), 0), S_OK);
    EXPECT_EQ(processor->ProcessInput(0, input.Get(), 0), MF_E_NOTACCEPTING);
    DWORD flags = 0;
    EXPECT_EQ(processor->GetOutputStatus(&flags), S_OK);
    EXPECT_EQ(flags, DWORD(MFT_OUTPUT_STATUS_SAMPLE_READY));
    buffer.pSample = input.Get();
    EXPECT_EQ(processor->ProcessOutput(0, 1, &buffer, &status), E_INVALIDARG);
    ASSERT_EQ(processor->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0), S_OK);
    buffer.pSample = nullptr;
    EXPECT_EQ(processor->ProcessOutput(0, 1, &buffer, &status), MF_E_TRANSFORM_NEED_MORE_INPUT);
    EXPECT_EQ(buffer.pSample, nullptr);

    // A buffer too small for the picture is refused, not read past its end.
    ASSERT_EQ(processor->ProcessInput(0, MakeSample(picture.data(), picture.size() / 2).Get(), 0), S_OK);
    EXPECT_EQ(processor->ProcessOutput(0, 1, &buffer, &status), MF_E_BUFFERTOOSMALL);
    EXPECT_EQ(buffer.pSample, nullptr);
}

TEST(VideoProcessorTextures, ReadsAndWritesTexturesOfTheDeviceInPlaceAndReusesThem) {
    ComPtr<ID3D11Device> device = MakeDevice();
    ASSERT_NE(device, nullptr);
    UINT token = 0;
    ComPtr<IMFDXGIDeviceManager> manager;
    ASSERT_EQ(MFCreateDXGIDeviceManager(&token, &manager), S_OK);
    ASSERT_EQ(manager->ResetDevice(device.Get(), token), S_OK);

    constexpr int Width = 64, Height = 48;
    ComPtr<IMFTransform> processor = Processor();
    ASSERT_EQ(
        processor->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, reinterpret_cast<ULONG_PTR>(manager.Get())),
        S_OK);
    SetTypes(processor.Get(), MakeVideoType(MFVideoFormat_ARGB32, Width, Height).Get(),
             MakeVideoType(MFVideoFormat_NV12, Width, Height).Get());

    const std::vector<std::uint8_t> picture = BgraPicture(Width, Height, 3);
    const D3D11_TEXTURE2D_DESC desc = CapturedTextureDesc(Width, Height);
    const D3D11_SUBRESOURCE_DATA data{picture.data(), Width * 4, 0};
    ComPtr<ID3D11Texture2D> source;
    ASSERT_EQ(device->CreateTexture2D(&desc, &data, &source), S_OK);
    ComPtr<IMFSample> input;
    ASSERT_EQ(MFCreateVideoSampleFromSurface(source.Get(), &input), S_OK);

    auto convert = [&](ComPtr<ID3D11Texture2D>& texture) {
        std::vector<ComPtr<IMFSample>> outputs;
        EXPECT_EQ(Feed(processor.Get(), input.Get(), outputs), S_OK);
        EXPECT_EQ(outputs.size(), 1u);
        ComPtr<IMFMediaBuffer> buffer;
        outputs[0]->GetBufferByIndex(0, &buffer);
        ComPtr<IMFDXGIBuffer> surface;
        EXPECT_EQ(buffer->QueryInterface(&surface), S_OK);
        EXPECT_EQ(surface->GetResource(IID_PPV_ARGS(&texture)), S_OK);
        D3D11_TEXTURE2D_DESC outputDesc{};
        texture->GetDesc(&outputDesc);
        EXPECT_EQ(outputDesc.Format, DXGI_FORMAT_NV12);
        ComPtr<ID3D11Device> owner;
        texture->GetDevice(&owner);
        EXPECT_EQ(owner.Get(), device.Get());
        const Yuv420 converted =
            FromNv12(BytesOf(outputs[0].Get(), Width, Height * 3 / 2), Width, Height, Width);
        EXPECT_LE(MaxDifference(converted, ReferenceYuv(picture, Width, Height)), 2);
    };
    ComPtr<ID3D11Texture2D> first;
    convert(first);
    // The first output sample has been let go, so its texture comes round again.
    ComPtr<ID3D11Texture2D> second;
    convert(second);
    EXPECT_EQ(first.Get(), second.Get());
}
