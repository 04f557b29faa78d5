// The asynchronous protocol of the hardware encoders, driven through the platform's software H.264 encoder:
// locked until unlocked, one input per METransformNeedInput, one output per METransformHaveOutput, a drain
// that ends with METransformDrainComplete; and how render nodes become hardware encoder classes.

#include "platform/mf/AsyncTransform.h"
#include "TransformTestSupport.h"
#include "platform/mf/HardwareEncoders.h"
#include "platform/mf/VideoEncoderTransform.h"

#include <gtest/gtest.h>

namespace {

ComPtr<IMFTransform> AsyncEncoder() {
    ComPtr<IMFTransform> inner;
    EXPECT_EQ(VideoEncoderTransform::Create(av::Codec::H264, inner.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IMFTransform> encoder;
    EXPECT_EQ(AsyncTransform::Create(inner, encoder.ReleaseAndGetAddressOf()), S_OK);
    return encoder;
}

// The events queued so far, without waiting.
std::vector<MediaEventType> TakeEvents(IMFTransform* transform) {
    ComPtr<IMFMediaEventGenerator> generator;
    EXPECT_EQ(transform->QueryInterface(&generator), S_OK);
    return QueuedEventTypes(generator.Get());
}

ComPtr<IMFSample> Picture(int index) {
    std::vector<std::uint8_t> nv12(160 * 96 * 3 / 2, 128);
    for (int row = 0; row < 96; ++row)
        for (int column = 0; column < 160; ++column)
            nv12[row * 160 + column] = static_cast<std::uint8_t>((column + row + index * 8) & 255);
    return MakeSample(nv12.data(), nv12.size(), index * 166667, 166667);
}

} // namespace

TEST(AsyncTransform, IsLockedUntilItsClientUnlocksIt) {
    ComPtr<IMFTransform> encoder = AsyncEncoder();
    ComPtr<IMFAttributes> attributes;
    ASSERT_EQ(encoder->GetAttributes(&attributes), S_OK);
    EXPECT_EQ(MFGetAttributeUINT32(attributes.Get(), MF_TRANSFORM_ASYNC, 0), 1u);
    EXPECT_EQ(encoder->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0), MF_E_TRANSFORM_ASYNC_LOCKED);
    EXPECT_EQ(encoder->ProcessInput(0, Picture(0).Get(), 0), MF_E_TRANSFORM_ASYNC_LOCKED);
    // Type negotiation and ICodecAPI go on while locked.
    ASSERT_EQ(encoder->SetOutputType(0, MakeVideoType(MFVideoFormat_H264, 160, 96).Get(), 0), S_OK);
    ComPtr<ICodecAPI> api;
    ASSERT_EQ(encoder->QueryInterface(&api), S_OK);
    EXPECT_EQ(api->IsSupported(&CODECAPI_AVEncMPVGOPSize), S_OK);
}

TEST(AsyncTransform, AsksForEachInputAndAnnouncesEachOutput) {
    ComPtr<IMFTransform> encoder = AsyncEncoder();
    ComPtr<IMFAttributes> attributes;
    ASSERT_EQ(encoder->GetAttributes(&attributes), S_OK);
    ASSERT_EQ(attributes->SetUINT32(MF_TRANSFORM_ASYNC_UNLOCK, TRUE), S_OK);
    ASSERT_EQ(attributes->SetUINT32(MF_LOW_LATENCY, TRUE), S_OK);
    ASSERT_EQ(encoder->SetOutputType(0, MakeVideoType(MFVideoFormat_H264, 160, 96).Get(), 0), S_OK);
    ASSERT_EQ(encoder->SetInputType(0, MakeVideoType(MFVideoFormat_NV12, 160, 96).Get(), 0), S_OK);

    EXPECT_EQ(encoder->ProcessInput(0, Picture(0).Get(), 0), MF_E_NOTACCEPTING);
    ASSERT_EQ(encoder->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0), S_OK);
    ASSERT_EQ(encoder->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0), S_OK);
    EXPECT_EQ(TakeEvents(encoder.Get()), std::vector<MediaEventType>{METransformNeedInput});

    MFT_OUTPUT_DATA_BUFFER buffer{0, nullptr, 0, nullptr};
    DWORD status = 0;
    EXPECT_EQ(encoder->ProcessOutput(0, 1, &buffer, &status), MF_E_UNEXPECTED);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(encoder->ProcessInput(0, Picture(i).Get(), 0), S_OK);
        // Low latency: the access unit is there at once, and the next input is asked for.
        EXPECT_EQ(TakeEvents(encoder.Get()),
                  (std::vector<MediaEventType>{METransformHaveOutput, METransformNeedInput}));
        ASSERT_EQ(encoder->ProcessOutput(0, 1, &buffer, &status), S_OK);
        ComPtr<IMFSample> unit;
        unit.Attach(buffer.pSample);
        buffer.pSample = nullptr;
        EXPECT_EQ(IsCleanPoint(unit.Get()), i == 0);
        EXPECT_EQ(TimeOf(unit.Get()), i * 166667);
    }
    ASSERT_EQ(encoder->ProcessMessage(MFT_MESSAGE_COMMAND_MARKER, 77), S_OK);
    ASSERT_EQ(encoder->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0), S_OK);
    EXPECT_EQ(TakeEvents(encoder.Get()),
              (std::vector<MediaEventType>{METransformMarker, METransformDrainComplete}));
    EXPECT_EQ(encoder->ProcessInput(0, Picture(3).Get(), 0), MF_E_NOTACCEPTING);
}

TEST(HardwareEncoders, EveryRenderNodeThatEncodesGivesVendorTaggedAsynchronousClasses) {
    DrmDevice intel;
    intel.node = "renderD128";
    intel.vendorId = 0x8086;
    DrmDevice amd;
    amd.node = "renderD129";
    amd.vendorId = 0x1002;
    std::vector<std::string> probed;
    const std::vector<TransformClass> classes =
        HardwareEncoderClasses({intel, amd}, [&](const std::string& node, av::Codec codec) {
            probed.push_back(node + (codec == av::Codec::H264 ? " h264" : " hevc"));
            return node.find("128") != std::string::npos || codec == av::Codec::Hevc;
        });
    EXPECT_EQ(probed, (std::vector<std::string>{"/dev/dri/renderD128 h264", "/dev/dri/renderD128 hevc",
                                                "/dev/dri/renderD129 h264", "/dev/dri/renderD129 hevc"}));
    ASSERT_EQ(classes.size(), 3u);
    EXPECT_EQ(classes[0].friendlyName, L"H.264 Encoder (VA-API renderD128)");
    EXPECT_EQ(classes[0].vendorId, L"VEN_8086");
    EXPECT_EQ(classes[0].hardwareUrl, L"/dev/dri/renderD128");
    EXPECT_EQ(classes[0].kind, UINT32(MFT_ENUM_FLAG_HARDWARE));
    EXPECT_EQ(classes[0].outputTypes[0].guidSubtype, MFVideoFormat_H264);
    EXPECT_EQ(classes[2].friendlyName, L"HEVC Encoder (VA-API renderD129)");
    EXPECT_EQ(classes[2].vendorId, L"VEN_1002");

    // The class makes an asynchronous transform; it opens the node only when it encodes.
    ComPtr<IMFTransform> transform;
    ASSERT_EQ(classes[0].create(transform.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IMFMediaEventGenerator> generator;
    EXPECT_EQ(transform->QueryInterface(&generator), S_OK);

    EXPECT_TRUE(HardwareEncoderClasses({}, [](const std::string&, av::Codec) { return true; }).empty());
}

TEST(HardwareEncoders, ANodeThatCannotBeOpenedDoesNotEncode) {
    EXPECT_FALSE(VaapiEncoderWorks("/dev/dri/renderD200-not-there", av::Codec::H264));
}
