// The grabber sink callback and the session event handler.

#include "Media/GenericGrabberSinkCallback.h"
#include "Media/MediaSessionEventHandler.h"
#include "SessionTestSupport.h"
#include "Util/ErrorSink.h"
#include <mferror.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <string>

namespace {

class CallbackObjectsTest : public ::testing::Test {
protected:
    PlatformStarted m_platform;
};

TEST_F(CallbackObjectsTest, TheGrabberCallbackComesWithASinkActivationThatIgnoresTheClockOnRequest) {
    for (const bool ignoreClock : {true, false}) {
        ComPtr<IMFActivate> activate;
        ComPtr<GenericGrabberSinkCallback> callback;
        ASSERT_EQ(GenericGrabberSinkCallback::Create(VideoType().Get(), ignoreClock, &activate, &callback),
                  S_OK);
        EXPECT_EQ(MFGetAttributeUINT32(activate.Get(), MF_SAMPLEGRABBERSINK_IGNORE_CLOCK, 0),
                  ignoreClock ? 1u : 0u);
        ComPtr<IMFSampleGrabberSinkCallback2> extended;
        EXPECT_EQ(callback->QueryInterface(IID_PPV_ARGS(&extended)), S_OK);
        EXPECT_EQ(callback->QueryInterface(__uuidof(IMFSampleGrabberSinkCallback2), nullptr), E_INVALIDARG);
        ComPtr<IMFMediaSink> notASink;
        EXPECT_EQ(callback->QueryInterface(IID_PPV_ARGS(&notASink)), E_NOINTERFACE);
    }
    ComPtr<IMFActivate> activate;
    ComPtr<GenericGrabberSinkCallback> callback;
    EXPECT_EQ(GenericGrabberSinkCallback::Create(nullptr, true, &activate, &callback), E_POINTER);
    EXPECT_EQ(activate, nullptr);
    EXPECT_EQ(callback, nullptr);
}

TEST_F(CallbackObjectsTest, SamplesReachTheFunctionWithTheirAttributesOnceOneIsSet) {
    ComPtr<IMFActivate> activate;
    ComPtr<GenericGrabberSinkCallback> callback;
    ASSERT_EQ(GenericGrabberSinkCallback::Create(AudioType().Get(), true, &activate, &callback), S_OK);
    ComPtr<IMFMediaSink> mediaSink;
    ComPtr<IMFStreamSink> streamSink;
    ComPtr<IMFClockStateSink> clock;
    ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&mediaSink)), S_OK);
    ASSERT_EQ(mediaSink->GetStreamSinkByIndex(0, &streamSink), S_OK);
    ASSERT_EQ(mediaSink->QueryInterface(IID_PPV_ARGS(&clock)), S_OK);
    ASSERT_EQ(clock->OnClockStart(0, 0), S_OK);

    const ComPtr<IMFSample> sample = MakeSample({4, 5, 6}, 2000, 300);
    sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    // No function yet: the sample is acknowledged and goes nowhere.
    EXPECT_EQ(streamSink->ProcessSample(sample.Get()), S_OK);

    std::vector<std::string> seen;
    callback->SetFunction([&](REFGUID majorType, DWORD, LONGLONG time, LONGLONG duration, const BYTE* data,
                              DWORD size, IMFAttributes* attributes) {
        EXPECT_EQ(majorType, MFMediaType_Audio);
        EXPECT_EQ(time, 2000);
        EXPECT_EQ(duration, 300);
        EXPECT_EQ(std::vector<BYTE>(data, data + size), (std::vector<BYTE>{4, 5, 6}));
        EXPECT_EQ(MFGetAttributeUINT32(attributes, MFSampleExtension_CleanPoint, 0), 1u);
        seen.push_back("sample");
    });
    EXPECT_EQ(streamSink->ProcessSample(sample.Get()), S_OK);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(mediaSink->Shutdown(), S_OK);
}

struct Report {
    std::uint32_t code;
    HRESULT hr;
    std::string text;
};

TEST_F(CallbackObjectsTest, TheEventHandlerReportsEachFailedEventOnceToTheSinkAndItsOwnerAndKeepsListening) {
    std::mutex mutex;
    std::vector<Report> reports;
    ErrorSink::Slot slot([&](int, std::uint32_t code, HRESULT hr, const char* text) {
        std::lock_guard lock(mutex);
        reports.push_back({code, hr, text});
    });
    ErrorSink::install(&slot);
    const auto reportCount = [&] {
        std::lock_guard lock(mutex);
        return reports.size();
    };

    ComPtr<IMFMediaSession> session;
    ASSERT_EQ(MFCreateMediaSession(nullptr, &session), S_OK);
    ComPtr<MediaSessionEventHandler> handler;
    EXPECT_EQ(MediaSessionEventHandler::CreateInstance(session.Get(), nullptr), E_POINTER);
    std::vector<std::pair<MediaEventType, HRESULT>> failures;
    ASSERT_EQ(MediaSessionEventHandler::CreateInstance(session.Get(), &handler,
                                                       [&](MediaEventType type, HRESULT status) {
                                                           std::lock_guard lock(mutex);
                                                           failures.emplace_back(type, status);
                                                       }),
              S_OK);
    DWORD flags = 0;
    DWORD queue = 0;
    ASSERT_EQ(handler->GetParameters(&flags, &queue), S_OK);
    EXPECT_EQ(flags, MFASYNC_FAST_IO_PROCESSING_CALLBACK);
    EXPECT_EQ(queue, MFASYNC_CALLBACK_QUEUE_STANDARD);
    EXPECT_EQ(handler->QueryInterface(__uuidof(IMFAsyncCallback), nullptr), E_INVALIDARG);

    // Success events are ignored whatever their type; each failed one is one report.
    session->QueueEvent(MEError, GUID_NULL, S_OK, nullptr);
    session->QueueEvent(MESessionStarted, GUID_NULL, E_FAIL, nullptr);
    session->QueueEvent(MESessionClosed, GUID_NULL, S_OK, nullptr);
    session->QueueEvent(MEError, GUID_NULL, MF_E_INVALIDREQUEST, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return reportCount() == 2; }));
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(reportCount(), 2u);
    // The handler re-arms before it reports, so the next event's report may overtake this one.
    std::sort(reports.begin(), reports.end(),
              [](const Report& a, const Report& b) { return a.text < b.text; });
    EXPECT_EQ(reports[0].code, 3u);
    EXPECT_EQ(reports[0].hr, MF_E_INVALIDREQUEST);
    EXPECT_EQ(reports[0].text, "Capture session encountered an error and cannot continue (type=1/C00D36B2)");
    EXPECT_EQ(reports[1].code, 3u);
    EXPECT_EQ(reports[1].hr, E_FAIL);
    EXPECT_EQ(reports[1].text,
              "Capture session encountered an error and cannot continue (type=103/80004005)");
    // The owner hears of the same two, so that it can replace the capture.
    {
        std::lock_guard lock(mutex);
        std::sort(failures.begin(), failures.end());
        const std::vector<std::pair<MediaEventType, HRESULT>> expected{{MEError, MF_E_INVALIDREQUEST},
                                                                       {MESessionStarted, E_FAIL}};
        EXPECT_EQ(failures, expected);
    }

    // Shutting the session down ends the chain, and with it the handler's hold on the session.
    ASSERT_EQ(session->Shutdown(), S_OK);
    EXPECT_TRUE(WaitUntil([&] {
        handler->AddRef();
        return handler->Release() == 1u;
    }));
}

} // namespace
