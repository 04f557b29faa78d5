#include "Codec/CodecReport.h"
#include "Codec/Exception.h"
#include "LogCapture.h"
#include "TestCodec.h"
#include <d3d11.h>
#include <mferror.h>

#include <gtest/gtest.h>

using kiv::mfcodec::Base;
using kiv::mfcodec::StreamSpecs;

namespace {

ComPtr<IMFMediaType> VideoType(REFGUID subtype, UINT32 width = 1920, UINT32 height = 1080) {
    ComPtr<IMFMediaType> type;
    EXPECT_EQ(MFCreateMediaType(&type), S_OK);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
    return type;
}

// The events queued so far, without waiting.
std::vector<MediaEventType> TakeEvents(IMFMediaEventGenerator* generator) {
    std::vector<MediaEventType> types;
    for (;;) {
        ComPtr<IMFMediaEvent> event;
        if (generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event) != S_OK)
            return types;
        MediaEventType type = MEUnknown;
        event->GetType(&type);
        types.push_back(type);
    }
}

class MfCodecBaseTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
        codec = new TestCodec();
    }
    void TearDown() override {
        if (codec)
            codec->Shutdown();
        codec = nullptr;
        MFShutdown();
    }

    void SetTypes() {
        ASSERT_EQ(codec->SetOutputType(0, VideoType(MFVideoFormat_H264).Get(), 0), S_OK);
        ASSERT_EQ(codec->SetInputType(0, VideoType(MFVideoFormat_NV12).Get(), 0), S_OK);
    }
    void StartStreaming() {
        SetTypes();
        ASSERT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0), S_OK);
        ASSERT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0), S_OK);
    }
    DWORD InputStatus() {
        DWORD flags = 99;
        EXPECT_EQ(codec->GetInputStatus(0, &flags), S_OK);
        return flags;
    }
    DWORD OutputStatus() {
        DWORD flags = 99;
        EXPECT_EQ(codec->GetOutputStatus(&flags), S_OK);
        return flags;
    }
    LogCapture log;
    ComPtr<TestCodec> codec;
};

TEST(CodecReportTest, FunctionTextDropsReturnTypeAndParameters) {
    EXPECT_EQ(kiv::mfcodec::FunctionText(
                  "virtual HRESULT kiv::mfcodec::Base::ProcessInput(DWORD, IMFSample*, DWORD)"),
              "virtual kiv::mfcodec::Base::ProcessInput");
    EXPECT_EQ(kiv::mfcodec::FunctionText("static HRESULT kiv::mfcodec::Base::ClearOrTestOrSetType("
                                         "Microsoft::WRL::ComPtr<IMFMediaType>&, IMFMediaType*, bool, const "
                                         "std::vector<Microsoft::WRL::ComPtr<IMFMediaType> >&)"),
              "static kiv::mfcodec::Base::ClearOrTestOrSetType");
    EXPECT_EQ(kiv::mfcodec::FunctionText("HRESULT kiv::mfcodec::Base::signalNeedInput()"),
              "kiv::mfcodec::Base::signalNeedInput");
    EXPECT_EQ(kiv::mfcodec::FunctionText("std::map<int, int> f(void (*)(int))"), "f");
}

TEST(CodecExceptionTest, MessageNamesCallOrConditionFunctionAndLine) {
    const kiv::mfcodec::Exception failed(E_OUTOFMEMORY, 42, "::MFCreateEventQueue( &m_eventQueue )",
                                         "kiv::mfcodec::Base::Base(const kiv::mfcodec::RegistrationInfo&)",
                                         "MfCodecBase.cpp");
    EXPECT_STREQ(failed.what(),
                 "::MFCreateEventQueue( &m_eventQueue ) -> 0x8007000E [kiv::mfcodec::Base::Base@42]");
    const kiv::mfcodec::Exception condition(0, 7, "m_extOpts.d3dDeviceVendor == +VendorId::Nvidia",
                                            "void f()", "x.cpp");
    EXPECT_STREQ(condition.what(), "(m_extOpts.d3dDeviceVendor == +VendorId::Nvidia) does not hold [f@7]");
    const std::string longText(400, 'x');
    const kiv::mfcodec::Exception cut(0, 1, longText.c_str(), "void f()", "x.cpp");
    EXPECT_EQ(std::string(cut.what()).size(), sizeof(cut.message) - 1);
}

TEST_F(MfCodecBaseTest, IdentityReferenceCountAndStreamShape) {
    TestCodec* raw = new TestCodec();
    EXPECT_EQ(raw->AddRef(), 1u); // a new transform starts at 0
    ComPtr<IUnknown> unknown;
    ComPtr<IMFMediaEventGenerator> generator;
    ComPtr<IMFShutdown> shutdown;
    ComPtr<ICodecAPI> codecApi;
    EXPECT_EQ(raw->QueryInterface(IID_PPV_ARGS(&unknown)), S_OK);
    EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(static_cast<IMFTransform*>(raw)));
    EXPECT_EQ(raw->QueryInterface(IID_PPV_ARGS(&generator)), S_OK);
    EXPECT_EQ(raw->QueryInterface(IID_PPV_ARGS(&shutdown)), S_OK);
    EXPECT_EQ(raw->QueryInterface(IID_PPV_ARGS(&codecApi)), S_OK);
    void* other = raw;
    EXPECT_EQ(raw->QueryInterface(__uuidof(IMFMediaType), &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(raw->QueryInterface(__uuidof(IMFTransform), nullptr), E_POINTER);
    unknown = nullptr;
    generator = nullptr;
    shutdown = nullptr;
    codecApi = nullptr;
    EXPECT_EQ(raw->Release(), 0u);

    DWORD a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(codec->GetStreamLimits(&a, &b, &c, nullptr), E_POINTER);
    EXPECT_EQ(codec->GetStreamLimits(&a, &b, &c, &d), S_OK);
    EXPECT_EQ(a + b + c + d, 4u);
    EXPECT_EQ(codec->GetStreamCount(&a, &b), S_OK);
    EXPECT_EQ(a + b, 2u);
    EXPECT_EQ(codec->GetStreamIDs(1, &a, 1, &b), E_NOTIMPL);
    EXPECT_EQ(codec->ProcessEvent(0, nullptr), E_NOTIMPL);
    MFT_INPUT_STREAM_INFO inputInfo{};
    MFT_OUTPUT_STREAM_INFO outputInfo{};
    EXPECT_EQ(codec->GetInputStreamInfo(1, &inputInfo), MF_E_INVALIDSTREAMNUMBER);
    EXPECT_TRUE(log.Matches("ERROR \\(0 == dwInputStreamID\\) does not hold "
                            "\\[virtual kiv::mfcodec::Base::GetInputStreamInfo@[0-9]+\\]"));
    EXPECT_EQ(codec->GetInputStreamInfo(0, &inputInfo), S_OK);
    EXPECT_EQ(inputInfo.dwFlags, 3u);
    EXPECT_EQ(codec->GetOutputStreamInfo(0, &outputInfo), S_OK);
    EXPECT_EQ(outputInfo.dwFlags, 0x103u);

    // The registration's attributes are the transform's.
    ComPtr<IMFAttributes> attributes;
    ASSERT_EQ(codec->GetAttributes(&attributes), S_OK);
    EXPECT_EQ(MFGetAttributeUINT32(attributes.Get(), MF_TRANSFORM_ASYNC, 0), 1u);
    EXPECT_EQ(MFGetAttributeUINT32(attributes.Get(), MF_SA_D3D11_AWARE, 0), 1u);
    EXPECT_EQ(MFGetAttributeUINT32(attributes.Get(), MFT_CODEC_MERIT_Attribute, 0), 42u);
    wchar_t text[64] = {};
    EXPECT_EQ(attributes->GetString(MFT_ENUM_HARDWARE_VENDOR_ID_Attribute, text, 64, nullptr), S_OK);
    EXPECT_STREQ(text, L"VEN_D4E1");
    EXPECT_EQ(attributes->GetString(MFT_FRIENDLY_NAME_Attribute, text, 64, nullptr), S_OK);
    EXPECT_STREQ(text, L"Test H.264 Encoder");
}

TEST_F(MfCodecBaseTest, StateTransitionsRefuseOutOfOrderMessages) {
    EXPECT_EQ(codec->getState(), Base::State::Constructed);
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0), E_UNEXPECTED);
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0), E_UNEXPECTED);
    EXPECT_EQ(codec->getState(), Base::State::Constructed);

    // A failing begin leaves the transform initialising; only a shutdown leads on.
    codec->beginStreamingResult = E_FAIL;
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0), E_FAIL);
    EXPECT_EQ(codec->getState(), Base::State::Initializing);
    EXPECT_TRUE(log.Matches("ERROR onBeginStreaming\\(\\) -> 0x80004005 "
                            "\\[virtual kiv::mfcodec::Base::ProcessMessage@[0-9]+\\]"));
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0), E_UNEXPECTED);

    codec = new TestCodec();
    StartStreaming();
    EXPECT_EQ(codec->getState(), Base::State::Started);
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, 0), E_UNEXPECTED);
    EXPECT_TRUE(log.Matches("ERROR \\(getState\\(\\) == State::Constructed\\) does not hold .*"));
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0), E_UNEXPECTED);
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0), E_UNEXPECTED);
    // Flush, drain and markers are acknowledged without events or a change of state.
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0), S_OK);
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0), S_OK);
    EXPECT_EQ(TakeEvents(codec.Get()), std::vector<MediaEventType>{METransformNeedInput});
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0), S_OK);
    EXPECT_EQ(codec->getState(), Base::State::Ended);
    EXPECT_EQ(codec->signalNeedInput(), E_UNEXPECTED);
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0), S_OK);
    EXPECT_EQ(codec->getState(), Base::State::Finalized);
    EXPECT_EQ(codec->calls, (std::vector<std::string>{"specs 01", "specs 10", "begin"}));
}

TEST_F(MfCodecBaseTest, EventProtocolAllowsOneCallPerEvent) {
    SetTypes();
    ASSERT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0), S_OK);
    ComPtr<IMFSample> sample;
    ASSERT_EQ(MFCreateSample(&sample), S_OK);
    EXPECT_EQ(codec->ProcessInput(0, sample.Get(), 0), MF_E_NOTACCEPTING); // not started
    EXPECT_EQ(InputStatus(), 0u);

    ASSERT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0), S_OK);
    ComPtr<IMFMediaEvent> needInput;
    ASSERT_EQ(codec->GetEvent(MF_EVENT_FLAG_NO_WAIT, &needInput), S_OK);
    MediaEventType type = MEUnknown;
    needInput->GetType(&type);
    EXPECT_EQ(type, METransformNeedInput);
    EXPECT_EQ(MFGetAttributeUINT32(needInput.Get(), MF_EVENT_MFT_INPUT_STREAM_ID, 99), 0u);
    EXPECT_EQ(InputStatus(), MFT_INPUT_STATUS_ACCEPT_DATA);

    EXPECT_EQ(codec->ProcessInput(1, sample.Get(), 0), MF_E_INVALIDSTREAMNUMBER);
    EXPECT_EQ(codec->ProcessInput(0, nullptr, 0), E_POINTER);
    EXPECT_EQ(InputStatus(), MFT_INPUT_STATUS_ACCEPT_DATA); // refused calls use up nothing
    EXPECT_EQ(codec->ProcessInput(0, sample.Get(), 0), S_OK);
    EXPECT_EQ(codec->ProcessInput(0, sample.Get(), 0), MF_E_NOTACCEPTING);
    EXPECT_TRUE(log.Matches("ERROR \\(decrementOutstandingInputs\\(\\)\\) does not hold "
                            "\\[virtual kiv::mfcodec::Base::ProcessInput@[0-9]+\\]"));
    EXPECT_EQ(InputStatus(), 0u);
    // The pass-through answers the input with a have-output event.
    EXPECT_EQ(TakeEvents(codec.Get()), std::vector<MediaEventType>{METransformHaveOutput});
    EXPECT_EQ(OutputStatus(), MFT_OUTPUT_STATUS_SAMPLE_READY);

    MFT_OUTPUT_DATA_BUFFER out{};
    DWORD status = 99;
    EXPECT_EQ(codec->ProcessOutput(0, 0, &out, &status), E_INVALIDARG);
    EXPECT_EQ(codec->ProcessOutput(0, 1, &out, nullptr), E_POINTER);
    out.pSample = sample.Get();
    EXPECT_EQ(codec->ProcessOutput(0, 1, &out, &status), E_POINTER); // it provides its own samples
    out.pSample = nullptr;
    EXPECT_EQ(codec->ProcessOutput(0, 1, &out, &status), S_OK);
    EXPECT_EQ(out.dwStatus, MFT_OUTPUT_DATA_BUFFER_NO_SAMPLE);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(OutputStatus(), 0u);
    EXPECT_EQ(codec->ProcessOutput(0, 1, &out, &status), MF_E_TRANSFORM_NEED_MORE_INPUT);
    EXPECT_EQ(OutputStatus(), 0u);
    // The pass-through asks for the next input.
    EXPECT_EQ(TakeEvents(codec.Get()), std::vector<MediaEventType>{METransformNeedInput});
    EXPECT_EQ(InputStatus(), MFT_INPUT_STATUS_ACCEPT_DATA);

    // Events a client queues reach the same queue.
    EXPECT_EQ(codec->QueueEvent(MEError, GUID_NULL, E_FAIL, nullptr), S_OK);
    EXPECT_EQ(TakeEvents(codec.Get()), std::vector<MediaEventType>{MEError});
}

TEST_F(MfCodecBaseTest, TypeNegotiationChecksOnlyMajorAndSubtype) {
    DWORD flags = 0;
    EXPECT_EQ(codec->GetInputStatus(0, &flags), MF_E_TRANSFORM_TYPE_NOT_SET);
    EXPECT_EQ(codec->GetOutputStatus(&flags), MF_E_TRANSFORM_TYPE_NOT_SET);

    // Any frame size: sizes are read later through the specs.
    EXPECT_EQ(codec->SetInputType(0, VideoType(MFVideoFormat_NV12, 17, 3).Get(), 0), S_OK);
    EXPECT_EQ(codec->SetInputType(0, VideoType(MFVideoFormat_HEVC).Get(), 0), MF_E_INVALIDTYPE);
    ComPtr<IMFMediaType> current;
    ASSERT_EQ(codec->GetInputCurrentType(0, &current), S_OK);
    UINT32 width = 0, height = 0;
    EXPECT_EQ(MFGetAttributeSize(current.Get(), MF_MT_FRAME_SIZE, &width, &height), S_OK);
    EXPECT_EQ(width * 100 + height, 1703u);

    // A test changes nothing, yet tells the vendor.
    codec->calls.clear();
    EXPECT_EQ(codec->SetInputType(0, VideoType(MFVideoFormat_ARGB32).Get(), MFT_SET_TYPE_TEST_ONLY), S_OK);
    EXPECT_EQ(codec->calls, std::vector<std::string>{"specs 10"});
    ASSERT_EQ(codec->GetInputCurrentType(0, &current), S_OK);
    GUID subtype = GUID_NULL;
    current->GetGUID(MF_MT_SUBTYPE, &subtype);
    EXPECT_EQ(subtype, MFVideoFormat_NV12);
    // The current type is a copy: changing the returned one changes nothing.
    current->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_ARGB32);
    ASSERT_EQ(codec->GetInputCurrentType(0, &current), S_OK);
    current->GetGUID(MF_MT_SUBTYPE, &subtype);
    EXPECT_EQ(subtype, MFVideoFormat_NV12);

    EXPECT_EQ(codec->SetInputType(0, nullptr, 0), S_OK);
    EXPECT_EQ(codec->GetInputCurrentType(0, &current), MF_E_TRANSFORM_TYPE_NOT_SET);
    EXPECT_EQ(codec->SetInputType(0, nullptr, 0), S_OK); // clearing nothing
    EXPECT_EQ(codec->SetOutputType(0, VideoType(MFVideoFormat_NV12).Get(), 0), MF_E_INVALIDTYPE);

    ComPtr<IMFMediaType> available;
    ASSERT_EQ(codec->GetInputAvailableType(0, 1, &available), S_OK);
    available->GetGUID(MF_MT_SUBTYPE, &subtype);
    EXPECT_EQ(subtype, MFVideoFormat_NV12);
    UINT32 count = 0;
    available->GetCount(&count);
    EXPECT_EQ(count, 2u); // major type and subtype only
    EXPECT_EQ(codec->GetInputAvailableType(0, 2, &available), MF_E_NO_MORE_TYPES);
    EXPECT_TRUE(log.Matches("ERROR \\(typeIndex < m_typesConsumed.size\\(\\)\\) does not hold .*"));
    EXPECT_EQ(codec->GetOutputAvailableType(0, 1, &available), MF_E_NO_MORE_TYPES);
}

TEST_F(MfCodecBaseTest, VideoSpecsReportPresentAndChangedFields) {
    StreamSpecs specs{};
    EXPECT_EQ(codec->getVideoSpecs(&specs, nullptr), MF_E_TRANSFORM_TYPE_NOT_SET);
    EXPECT_EQ(codec->getVideoSpecs(nullptr, nullptr), E_POINTER);
    ComPtr<IMFMediaType> input = VideoType(MFVideoFormat_NV12, 1280, 720);
    MFSetAttributeRatio(input.Get(), MF_MT_FRAME_RATE, 60, 1);
    ComPtr<IMFMediaType> output = VideoType(MFVideoFormat_H264, 1280, 720);
    output->SetUINT32(MF_MT_AVG_BITRATE, 8000000);
    ASSERT_EQ(codec->SetInputType(0, input.Get(), 0), S_OK);
    ASSERT_EQ(codec->SetOutputType(0, output.Get(), 0), S_OK);

    ASSERT_EQ(codec->getVideoSpecs(&specs, nullptr), S_OK);
    EXPECT_EQ(specs.changed, 0xFFFFFFFFu);
    EXPECT_EQ(specs.present, 0x7Eu); // all but the minimum sample count
    EXPECT_EQ(specs.srcSubtype, MFVideoFormat_NV12);
    EXPECT_EQ(specs.tgtSubtype, MFVideoFormat_H264);
    EXPECT_EQ(specs.srcWidth, 1280u);
    EXPECT_EQ(specs.srcHeight, 720u);
    EXPECT_EQ(specs.srcFpsNum, 60u);
    EXPECT_EQ(specs.srcFpsDen, 1u);
    EXPECT_EQ(specs.tgtBpsAvg, 8000000u);

    StreamSpecs same{};
    ASSERT_EQ(codec->getVideoSpecs(&same, &specs), S_OK);
    EXPECT_EQ(same.changed, 0u);

    // A new size changes the target resolution; a missing rate keeps the old value but drops its bit.
    output = VideoType(MFVideoFormat_H264, 1920, 1080);
    output->SetUINT32(MF_MT_AVG_BITRATE, 8000000);
    ASSERT_EQ(codec->SetOutputType(0, output.Get(), 0), S_OK);
    ASSERT_EQ(codec->SetInputType(0, VideoType(MFVideoFormat_NV12, 1280, 720).Get(), 0), S_OK);
    StreamSpecs next = specs;
    ASSERT_EQ(codec->getVideoSpecs(&next, &specs), S_OK);
    EXPECT_EQ(next.changed, StreamSpecs::Bits::tgtRes | StreamSpecs::Bits::srcFps);
    EXPECT_EQ(next.srcFpsNum, 60u);
    EXPECT_EQ(next.present & StreamSpecs::Bits::srcFps, 0u);
}

TEST_F(MfCodecBaseTest, ForceKeyFrameAndIgnoredValues) {
    VARIANT value{};
    value.vt = VT_UI4;
    value.ulVal = 0;
    EXPECT_EQ(codec->SetValue(&CODECAPI_AVEncVideoForceKeyFrame, &value), E_INVALIDARG);
    EXPECT_EQ(codec->SetValue(&CODECAPI_AVEncVideoForceKeyFrame, nullptr), E_POINTER);
    EXPECT_EQ(codec->SetValue(nullptr, &value), E_POINTER);
    EXPECT_TRUE(codec->calls.empty());
    value.ulVal = 1;
    EXPECT_EQ(codec->SetValue(&CODECAPI_AVEncVideoForceKeyFrame, &value), S_OK);
    EXPECT_EQ(codec->calls, std::vector<std::string>{"key frame"});
    value.vt = VT_UI8;
    EXPECT_EQ(codec->SetValue(&CODECAPI_AVEncVideoForceKeyFrame, &value), E_INVALIDARG);

    value.vt = VT_UI4;
    value.ulVal = 120;
    EXPECT_EQ(codec->SetValue(&CODECAPI_AVEncMPVGOPSize, &value), S_OK);
    EXPECT_EQ(codec->SetValue(&CODECAPI_AVLowLatencyMode, &value), S_OK);
    EXPECT_EQ(codec->SetValue(&MF_MT_AVG_BITRATE, &value), E_INVALIDARG);
    EXPECT_EQ(codec->GetValue(&CODECAPI_AVEncMPVGOPSize, &value), E_NOTIMPL);
    EXPECT_EQ(codec->IsSupported(&CODECAPI_AVEncMPVGOPSize), E_NOTIMPL);
    EXPECT_EQ(codec->calls.size(), 1u);
}

TEST_F(MfCodecBaseTest, ShutdownReleasesDeviceAndQueueFromAnyState) {
    MFSHUTDOWN_STATUS status{};
    EXPECT_EQ(codec->GetShutdownStatus(nullptr), E_INVALIDARG);
    EXPECT_EQ(codec->GetShutdownStatus(&status), MF_E_INVALIDREQUEST);

    ComPtr<ID3D11Device> device;
    ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                &device, nullptr, nullptr),
              S_OK);
    UINT token = 0;
    ComPtr<IMFDXGIDeviceManager> manager;
    ASSERT_EQ(MFCreateDXGIDeviceManager(&token, &manager), S_OK);
    ASSERT_EQ(manager->ResetDevice(device.Get(), token), S_OK);

    EXPECT_FALSE(codec->canInitialize());
    ASSERT_EQ(codec->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, reinterpret_cast<ULONG_PTR>(manager.Get())),
              S_OK);
    SetTypes();
    EXPECT_TRUE(codec->canInitialize());
    EXPECT_EQ(codec->calls.front(), "clearing");
    EXPECT_EQ(codec->calls.at(1), "set");

    // Shut down before streaming began: the device goes and the queue refuses events.
    codec->calls.clear();
    EXPECT_EQ(codec->Shutdown(), S_OK);
    EXPECT_EQ(codec->GetShutdownStatus(&status), S_OK);
    EXPECT_EQ(status, MFSHUTDOWN_INITIATED);
    EXPECT_EQ(codec->calls, std::vector<std::string>{"clearing"});
    EXPECT_FALSE(codec->canInitialize());
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(codec->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
    EXPECT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0), E_UNEXPECTED);
    EXPECT_EQ(codec->Shutdown(), S_OK);
    EXPECT_EQ(codec->calls.size(), 1u); // a second shutdown does nothing

    // Streaming, then ended: the same.
    codec = new TestCodec();
    StartStreaming();
    ASSERT_EQ(codec->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0), S_OK);
    EXPECT_EQ(codec->Shutdown(), S_OK);
    EXPECT_EQ(codec->getState(), Base::State::ShutDown);
    EXPECT_EQ(codec->signalHaveOutput(), E_UNEXPECTED);
}

TEST(MfCodecBaseServicesTest, AlignedAllocAndTscTiming) {
    void* memory = Base::AlignedAlloc(4096, 256);
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % 256, 0u);
    Base::AlignedFree(memory);
    // Earlier tests of this process ran work-queue threads: the child starts afresh.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(Base::AlignedAlloc(100, 64), "ASSERTION FAILED: \\(size % align\\) == 0 "
                                              "\\[static kiv::mfcodec::Base::AlignedAlloc@[0-9]+\\]");
    EXPECT_DEATH(Base::AlignedAlloc(96, 48), "ASSERTION FAILED: \\(align & \\(align - 1\\)\\) == 0");

    // A counter that runs between 100 MHz and 10 GHz: a million ticks last 100 µs to 10 ms.
    const double microseconds = Base::TscTicksToMicroseconds(1000000);
    EXPECT_GT(microseconds, 100.0);
    EXPECT_LT(microseconds, 10000.0);
}

} // namespace
