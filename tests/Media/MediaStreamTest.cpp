// MediaStream: the drop rule, requests and tokens.

#include "SourceTestSupport.h"
#include "StderrCapture.h"
#include "Util/Logger.h"
#include <mferror.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

class MediaStreamTest : public ::testing::Test {
protected:
    MediaStreamTest() {
        m_logger.SetMinimumLevel(Logger::Debug);
        Logger::Register(&m_logger);
    }
    ~MediaStreamTest() override { Logger::Register(nullptr); }

    // The sample of the stream's next event, which must be MEMediaSample.
    static ComPtr<IMFSample> NextSample(MediaStream* stream, std::chrono::milliseconds timeout = 2000ms) {
        const ComPtr<IMFMediaEvent> event = NextEvent(stream, timeout);
        ComPtr<IMFSample> sample;
        if (event && TypeOf(event.Get()) == MEMediaSample)
            ValueOf(event.Get())->QueryInterface(IID_PPV_ARGS(&sample));
        return sample;
    }

    PlatformStarted m_platform;
    Logger m_logger;
};

TEST_F(MediaStreamTest, ASampleQueuedBeforeTheStartIsIgnoredAndNotKept) {
    ComPtr<IMFMediaType> type = VideoType();
    ComPtr<MediaSource> source;
    ASSERT_EQ(MediaSource::CreateInstance(MediaSourceType::Server, 1, type.GetAddressOf(), &source), S_OK);
    ComPtr<MediaStream> stream;
    ASSERT_EQ(source->GetStream(0, &stream), S_OK);
    const ComPtr<IMFSample> sample = MakeSample({1}, 0, 1);
    const ULONG before = References(sample.Get());
    EXPECT_EQ(stream->QueueSample(sample.Get()), S_OK);
    EXPECT_EQ(References(sample.Get()), before);
    source->Shutdown();
}

TEST_F(MediaStreamTest, TwoSamplesWithoutARequestKeepOnlyTheNewest) {
    StartedSource started;
    ASSERT_TRUE(started.started);
    const ComPtr<IMFSample> first = MakeSample({1}, 0, 1);
    const ComPtr<IMFSample> second = MakeSample({2}, 1, 1);
    {
        StderrCapture errors;
        ASSERT_EQ(started.video->QueueSample(first.Get()), S_OK);
        ASSERT_EQ(started.video->QueueSample(second.Get()), S_OK);
        EXPECT_EQ(errors.Text(), "Sample dropped from video queue. Remaining: 0\n");
    }
    EXPECT_EQ(References(first.Get()), 1u);
    ASSERT_EQ(started.video->RequestSample(nullptr), S_OK);
    EXPECT_EQ(NextSample(started.video.Get()), second);
    EXPECT_FALSE(NextEvent(started.video.Get(), 50ms));
}

TEST_F(MediaStreamTest, TheDropMessageNeedsTheLowestLogLevel) {
    StartedSource started;
    ASSERT_TRUE(started.started);
    m_logger.SetMinimumLevel(Logger::Info);
    StderrCapture errors;
    started.video->QueueSample(MakeSample({1}, 0, 1).Get());
    started.video->QueueSample(MakeSample({2}, 0, 1).Get());
    EXPECT_EQ(errors.Text(), "");
}

TEST_F(MediaStreamTest, ARequestWithoutASampleWaitsForTheNextOne) {
    StartedSource started;
    ASSERT_TRUE(started.started);
    ASSERT_EQ(started.video->RequestSample(nullptr), S_OK);
    EXPECT_FALSE(NextEvent(started.video.Get(), 50ms));
    const ComPtr<IMFSample> sample = MakeSample({7}, 0, 1);
    ASSERT_EQ(started.video->QueueSample(sample.Get()), S_OK);
    ComPtr<IMFMediaEvent> event;
    // Delivered by QueueSample itself.
    ASSERT_EQ(started.video->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), S_OK);
    EXPECT_EQ(TypeOf(event.Get()), MEMediaSample);
    EXPECT_EQ(ValueOf(event.Get()).Get(), static_cast<IUnknown*>(sample.Get()));
}

TEST_F(MediaStreamTest, TokensTravelWithTheirSampleAndANullTokenLeavesNone) {
    StartedSource started;
    ASSERT_TRUE(started.started);
    const ComPtr<IMFSample> sample = MakeSample({1}, 0, 1);
    const ComPtr<IMFMediaType> token = VideoType();
    ASSERT_EQ(started.video->RequestSample(token.Get()), S_OK);
    ASSERT_EQ(started.video->QueueSample(sample.Get()), S_OK);
    ASSERT_EQ(NextSample(started.video.Get()), sample);
    ComPtr<IUnknown> attached;
    ASSERT_EQ(sample->GetUnknown(MFSampleExtension_Token, IID_PPV_ARGS(&attached)), S_OK);
    EXPECT_EQ(attached.Get(), static_cast<IUnknown*>(token.Get()));

    // The same sample again, now for a null token: it must not carry the earlier request's token.
    ASSERT_EQ(started.video->RequestSample(nullptr), S_OK);
    ASSERT_EQ(started.video->QueueSample(sample.Get()), S_OK);
    ASSERT_EQ(NextSample(started.video.Get()), sample);
    UINT32 size = 0;
    EXPECT_EQ(sample->GetBlobSize(MFSampleExtension_Token, &size), MF_E_ATTRIBUTENOTFOUND);
}

TEST_F(MediaStreamTest, ARequestWhileStoppedBecomesAnErrorOnTheSource) {
    ComPtr<IMFMediaType> type = VideoType();
    ComPtr<MediaSource> source;
    ASSERT_EQ(MediaSource::CreateInstance(MediaSourceType::Server, 1, type.GetAddressOf(), &source), S_OK);
    ComPtr<MediaStream> stream;
    ASSERT_EQ(source->GetStream(0, &stream), S_OK);
    {
        StderrCapture errors;
        // The failure travels as an event; queuing that event succeeded.
        EXPECT_EQ(stream->RequestSample(nullptr), S_OK);
        EXPECT_NE(errors.Text().find("hr = MF_E_INVALIDREQUEST failed with error 0xc00d36b2"),
                  std::string::npos);
    }
    const ComPtr<IMFMediaEvent> error = NextEvent(source.Get());
    ASSERT_TRUE(error);
    EXPECT_EQ(TypeOf(error.Get()), MEError);
    EXPECT_EQ(StatusOf(error.Get()), MF_E_INVALIDREQUEST);
    source->Shutdown();
}

TEST_F(MediaStreamTest, ALiveSourceKeepsOnlyTheNewestPictureButEveryPieceOfSound) {
    StartedSource started;
    ASSERT_TRUE(started.started);
    std::vector<ComPtr<IMFSample>> samples;
    for (int i = 0; i < 3; ++i)
        samples.push_back(MakeSample({BYTE(i)}, i, 1));
    for (const auto& sample : samples) {
        started.video->QueueSample(sample.Get());
        started.audio->QueueSample(sample.Get());
    }
    started.video->RequestSample(nullptr);
    EXPECT_EQ(NextSample(started.video.Get()), samples[2]);
    for (const auto& sample : samples) {
        started.audio->RequestSample(nullptr);
        EXPECT_EQ(NextSample(started.audio.Get()), sample);
    }
    // Sound nobody asked for within a second is let go when the next comes.
    started.audio->QueueSample(samples[0].Get());
    std::this_thread::sleep_for(1050ms);
    started.audio->QueueSample(samples[1].Get());
    started.audio->RequestSample(nullptr);
    EXPECT_EQ(NextSample(started.audio.Get()), samples[1]);
}

TEST_F(MediaStreamTest, WithoutTheServerRuleVideoWaitsAndOldAudioAgesOut) {
    StartedSource started(MediaSourceType{0});
    ASSERT_TRUE(started.started);
    const ComPtr<IMFSample> first = MakeSample({1}, 0, 1);
    const ComPtr<IMFSample> second = MakeSample({2}, 1, 1);
    started.video->QueueSample(first.Get());
    started.video->QueueSample(second.Get());
    started.video->RequestSample(nullptr);
    started.video->RequestSample(nullptr);
    EXPECT_EQ(NextSample(started.video.Get()), first);
    EXPECT_EQ(NextSample(started.video.Get()), second);

    StderrCapture errors;
    started.audio->QueueSample(first.Get());
    started.audio->QueueSample(second.Get());
    EXPECT_EQ(errors.Text(), "");
    // Older than 31 ms: both go when the next one comes.
    std::this_thread::sleep_for(40ms);
    const ComPtr<IMFSample> third = MakeSample({3}, 2, 1);
    started.audio->QueueSample(third.Get());
    EXPECT_EQ(errors.Text(), "Sample dropped from audio queue. Remaining: 1\n"
                             "Sample dropped from audio queue. Remaining: 0\n");
    started.audio->RequestSample(nullptr);
    EXPECT_EQ(NextSample(started.audio.Get()), third);
}

} // namespace
