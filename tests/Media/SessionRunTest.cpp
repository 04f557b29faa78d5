// A media session running a MediaSource through a synchronous and an asynchronous transform into two sample
// grabber sinks.

#include "Media/MediaSessionEventHandler.h"
#include "SessionTestSupport.h"
#include "StderrCapture.h"
#include "Util/ErrorSink.h"
#include "Util/Logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

namespace {

constexpr LONGLONG FrameDuration = 166666;
constexpr LONGLONG AudioDuration = 213333;

class SessionRunTest : public ::testing::Test {
protected:
    void StartSession(TwoBranchSession& run) {
        PROPVARIANT start;
        PropVariantInit(&start);
        ASSERT_EQ(run.session->Start(&GUID_NULL, &start), S_OK);
    }

    // Queues one sample and waits until the sink has it, so no sample is ever dropped.
    static bool Deliver(MediaStream* stream, RecordingGrabberCallback* sink, BYTE first, LONGLONG time,
                        LONGLONG duration) {
        const std::size_t before = sink->SampleCount();
        const ComPtr<IMFSample> sample =
            MakeSample({first, BYTE(first + 1), BYTE(first + 2)}, time, duration);
        return SUCCEEDED(stream->QueueSample(sample.Get())) &&
               WaitUntil([&] { return sink->SampleCount() == before + 1; });
    }

    PlatformStarted m_platform;
};

TEST_F(SessionRunTest, SamplesFlowThroughBothKindsOfTransformIntoTheirSinksInOrder) {
    TwoBranchSession run({.add = 1}, {.add = 10});
    ASSERT_TRUE(run.Build());
    const ComPtr<EventRecorder> events = EventRecorder::Listen(run.session.Get());
    ASSERT_TRUE(events->WaitFor(MESessionTopologySet));
    StartSession(run);
    ASSERT_TRUE(events->WaitFor(MESessionStarted));

    for (BYTE i = 0; i < 8; ++i) {
        ASSERT_TRUE(
            Deliver(run.video.Get(), run.videoSink.Get(), BYTE(i * 3), i * FrameDuration, FrameDuration));
        ASSERT_TRUE(
            Deliver(run.audio.Get(), run.audioSink.Get(), BYTE(i * 5), i * AudioDuration, AudioDuration));
    }

    const auto videoSamples = run.videoSink->Samples();
    const auto audioSamples = run.audioSink->Samples();
    ASSERT_EQ(videoSamples.size(), 8u);
    ASSERT_EQ(audioSamples.size(), 8u);
    for (BYTE i = 0; i < 8; ++i) {
        EXPECT_EQ(videoSamples[i].bytes,
                  (std::vector<BYTE>{BYTE(i * 3 + 1), BYTE(i * 3 + 2), BYTE(i * 3 + 3)}));
        EXPECT_EQ(videoSamples[i].time, i * FrameDuration);
        EXPECT_EQ(videoSamples[i].duration, FrameDuration);
        EXPECT_EQ(videoSamples[i].majorType, MFMediaType_Video);
        EXPECT_TRUE(videoSamples[i].hasAttributes);
        EXPECT_EQ(audioSamples[i].bytes,
                  (std::vector<BYTE>{BYTE(i * 5 + 10), BYTE(i * 5 + 11), BYTE(i * 5 + 12)}));
        EXPECT_EQ(audioSamples[i].time, i * AudioDuration);
        EXPECT_EQ(audioSamples[i].majorType, MFMediaType_Audio);
    }

    // Every call into a transform came from one thread, never two at once.
    EXPECT_FALSE(run.videoTransform->Overlapped());
    EXPECT_FALSE(run.audioTransform->Overlapped());
    EXPECT_EQ(run.videoTransform->CallerThreads(), 1u);
    EXPECT_EQ(run.audioTransform->CallerThreads(), 1u);
    const auto videoCalls = run.videoTransform->Calls();
    ASSERT_GE(videoCalls.size(), 3u);
    EXPECT_EQ(videoCalls[0], "ProcessMessage");
    EXPECT_EQ(videoCalls[1], "ProcessMessage");
    EXPECT_EQ(videoCalls[2], "ProcessInput");

    run.Shutdown();
    EXPECT_EQ(events->Types(), (std::vector<MediaEventType>{MESessionTopologySet, MESessionStarted}));
    std::vector<std::string> expected{"start"};
    expected.insert(expected.end(), 8, "sample");
    expected.push_back("shutdown");
    EXPECT_EQ(run.videoSink->Calls(), expected);
    EXPECT_EQ(run.audioSink->Calls(), expected);
    EXPECT_TRUE(WaitUntil([] { return LiveSamples() == 0; }));
}

// Tells when the last reference to it goes.
class ReleaseSentinel final : public ComObject<IUnknown> {
public:
    explicit ReleaseSentinel(std::atomic<bool>& released) : m_released(released) {}
    ~ReleaseSentinel() override { m_released = true; }

private:
    std::atomic<bool>& m_released;
};

TEST_F(SessionRunTest, ASourceSampleIsLetGoOnceItsBranchHasTakenItNotWhenTheSinkIsDone) {
    TwoBranchSession run;
    ASSERT_TRUE(run.Build());
    StartSession(run);
    ASSERT_TRUE(WaitUntil([&] { return !run.videoSink->Calls().empty(); }));
    run.videoSink->HoldNext(1s);
    // A captured frame's texture goes back to its pool when its sample is let go: holding it while the rest
    // of the branch works would take another texture for the next frame.
    std::atomic<bool> released{false};
    {
        const ComPtr<IMFSample> sample = MakeSample({1}, 0, FrameDuration);
        ComPtr<IUnknown> sentinel;
        sentinel.Attach(new ReleaseSentinel(released));
        ASSERT_EQ(sample->SetUnknown(GUID{0x5e471e1, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}}, sentinel.Get()),
                  S_OK);
        ASSERT_EQ(run.video->QueueSample(sample.Get()), S_OK);
    }
    ASSERT_TRUE(WaitUntil([&] { return run.videoSink->SampleCount() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return released.load(); }, 300ms));
    run.Shutdown();
}

TEST_F(SessionRunTest, TheSessionUnlocksAnAsynchronousTransform) {
    TwoBranchSession run;
    ASSERT_TRUE(run.Build());
    ComPtr<IMFAttributes> attributes;
    ASSERT_EQ(run.audioTransform->GetAttributes(&attributes), S_OK);
    EXPECT_TRUE(
        WaitUntil([&] { return MFGetAttributeUINT32(attributes.Get(), MF_TRANSFORM_ASYNC_UNLOCK, 0) == 1; }));
}

struct Report {
    int kind;
    std::uint32_t code;
    HRESULT hr;
    std::string text;
};

class SessionFailureTest : public SessionRunTest {
protected:
    SessionFailureTest()
        : m_slot([this](int kind, std::uint32_t code, HRESULT hr, const char* text) {
              std::lock_guard lock(m_mutex);
              m_reports.push_back({kind, code, hr, text});
          }) {
        ErrorSink::install(&m_slot);
    }

    std::vector<Report> Reports() {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }

    // Starts the session with the event handler listening, then feeds both streams until a report comes.
    void RunUntilReport(TwoBranchSession& run) {
        ASSERT_TRUE(run.Build());
        ComPtr<MediaSessionEventHandler> handler;
        ASSERT_EQ(MediaSessionEventHandler::CreateInstance(run.session.Get(), &handler), S_OK);
        StartSession(run);
        ASSERT_TRUE(
            WaitUntil([&] { return !run.videoSink->Calls().empty() && !run.audioSink->Calls().empty(); }));
        for (BYTE i = 0; i < 10 && Reports().empty(); ++i) {
            run.video->QueueSample(MakeSample({i}, i * FrameDuration, FrameDuration).Get());
            run.audio->QueueSample(MakeSample({i}, i * AudioDuration, AudioDuration).Get());
            WaitUntil([&] { return !Reports().empty(); }, 50ms);
        }
        ASSERT_TRUE(WaitUntil([&] { return !Reports().empty(); }));
        // A sample a sink already held when the failure came may still arrive; nothing after it.
        std::this_thread::sleep_for(100ms);
        // The session halts: later samples reach no sink and raise no second report.
        const std::size_t videoDelivered = run.videoSink->SampleCount();
        const std::size_t audioDelivered = run.audioSink->SampleCount();
        for (BYTE i = 0; i < 5; ++i) {
            run.video->QueueSample(MakeSample({i}, 0, FrameDuration).Get());
            run.audio->QueueSample(MakeSample({i}, 0, AudioDuration).Get());
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(run.videoSink->SampleCount(), videoDelivered);
        EXPECT_EQ(run.audioSink->SampleCount(), audioDelivered);
        run.Shutdown();
    }

    std::mutex m_mutex;
    std::vector<Report> m_reports;
    ErrorSink::Slot m_slot;
};

TEST_F(SessionFailureTest, ASynchronousTransformFailureBecomesOneErrorReport) {
    TwoBranchSession run({.failAtInput = 2, .failure = E_ABORT});
    RunUntilReport(run);
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, ErrorSink::KindError);
    EXPECT_EQ(reports[0].code, 3u);
    EXPECT_EQ(reports[0].hr, E_ABORT);
    EXPECT_EQ(reports[0].text, "Capture session encountered an error and cannot continue (type=1/80004004)");
    EXPECT_EQ(run.videoSink->SampleCount(), 2u);
}

TEST_F(SessionFailureTest, AnAsynchronousTransformErrorEventBecomesOneErrorReport) {
    TwoBranchSession run({}, {.failAtInput = 1, .failure = MF_E_INVALIDMEDIATYPE});
    RunUntilReport(run);
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].hr, MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(reports[0].text, "Capture session encountered an error and cannot continue (type=1/C00D36B4)");
    EXPECT_EQ(run.audioSink->SampleCount(), 1u);
}

TEST_F(SessionFailureTest, AFailingSinkCallbackBecomesOneErrorReport) {
    TwoBranchSession run;
    run.videoSink->FailNext(E_ACCESSDENIED);
    RunUntilReport(run);
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].hr, E_ACCESSDENIED);
}

TEST_F(SessionRunTest, ShutdownWithSamplesInFlightReleasesEverything) {
    {
        TwoBranchSession run({.delay = 5ms}, {.delay = 40ms});
        ASSERT_TRUE(run.Build());
        StartSession(run);
        ASSERT_TRUE(WaitUntil([&] { return !run.audioSink->Calls().empty(); }));
        for (BYTE i = 0; i < 4; ++i) {
            run.video->QueueSample(MakeSample({i}, i * FrameDuration, FrameDuration).Get());
            run.audio->QueueSample(MakeSample({i}, i * AudioDuration, AudioDuration).Get());
        }
        // The audio transform's worker is busy with a sample while everything is shut down.
        ASSERT_TRUE(WaitUntil([&] { return run.audioTransform->Inputs() > 0; }));
        run.Shutdown();
        EXPECT_FALSE(run.videoTransform->Overlapped());
    }
    EXPECT_TRUE(WaitUntil([] { return LiveSamples() == 0; }));
}

TEST_F(SessionRunTest, StopAndCloseCompleteWithTheirEvents) {
    TwoBranchSession run;
    ASSERT_TRUE(run.Build());
    const ComPtr<EventRecorder> events = EventRecorder::Listen(run.session.Get());
    StartSession(run);
    ASSERT_TRUE(events->WaitFor(MESessionStarted));
    ASSERT_EQ(run.session->Stop(), S_OK);
    ASSERT_TRUE(events->WaitFor(MESessionStopped));
    EXPECT_EQ(run.source->CurrentState(), MediaSource::State::Stopped);
    ASSERT_EQ(run.session->Close(), S_OK);
    ASSERT_TRUE(events->WaitFor(MESessionClosed));
    // A closed session does not start again.
    StartSession(run);
    ASSERT_TRUE(WaitUntil([&] { return events->Count(MESessionStarted) == 2; }));
    EXPECT_EQ(events->Events().back().status, MF_E_INVALIDREQUEST);
    EXPECT_EQ(events->Count(MEError), 0u);
    EXPECT_EQ(run.videoSink->Calls(), (std::vector<std::string>{"start", "stop"}));
    run.Shutdown();
    EXPECT_EQ(run.session->Start(nullptr, nullptr), MF_E_SHUTDOWN);
    EXPECT_EQ(run.session->Shutdown(), MF_E_SHUTDOWN);
}

// With a transform slower than the source, the stream keeps only the newest frame: frames are dropped and
// nothing piles up anywhere.
TEST_F(SessionRunTest, ASlowTransformCostsFramesNotMemory) {
    Logger logger;
    logger.SetMinimumLevel(Logger::Debug);
    Logger::Register(&logger);
    StderrCapture errors;
    std::int64_t mostAlive = 0;
    constexpr int Frames = 150;
    {
        TwoBranchSession run({.delay = 15ms});
        ASSERT_TRUE(run.Build());
        StartSession(run);
        ASSERT_TRUE(WaitUntil([&] { return !run.videoSink->Calls().empty(); }));
        for (int i = 0; i < Frames; ++i) {
            run.video->QueueSample(MakeSample({BYTE(i)}, i * FrameDuration, FrameDuration).Get());
            mostAlive = std::max(mostAlive, LiveSamples());
            std::this_thread::sleep_for(1ms);
        }
        WaitUntil([&] { return run.videoSink->SampleCount() > 0; });
        run.Shutdown();
        const std::size_t delivered = run.videoSink->SampleCount();
        EXPECT_GT(delivered, 0u);
        EXPECT_LT(delivered, std::size_t(Frames / 2));
    }
    Logger::Register(nullptr);
    EXPECT_LE(mostAlive, 6);
    EXPECT_NE(errors.Text().find("Sample dropped from video queue. Remaining: 0\n"), std::string::npos);
    EXPECT_TRUE(WaitUntil([] { return LiveSamples() == 0; }));
}

} // namespace
