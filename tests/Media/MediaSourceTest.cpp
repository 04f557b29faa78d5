// MediaSource: construction, the operation queue and its events, and shutdown.

#include "SourceTestSupport.h"
#include <mferror.h>

#include <gtest/gtest.h>

namespace {

class MediaSourceTest : public ::testing::Test {
protected:
    PlatformStarted m_platform;
};

ComPtr<MediaSource> CreateSource(std::vector<ComPtr<IMFMediaType>> types, HRESULT* result = nullptr) {
    std::vector<IMFMediaType*> raw;
    for (auto& type : types)
        raw.push_back(type.Get());
    ComPtr<MediaSource> source;
    const HRESULT hr =
        MediaSource::CreateInstance(MediaSourceType::Server, int(raw.size()), raw.data(), &source);
    if (result != nullptr)
        *result = hr;
    return source;
}

TEST_F(MediaSourceTest, StreamsTakeTheirDurationAndMaximumAgeFromTheirMediaType) {
    const ComPtr<MediaSource> source = CreateSource({VideoType(60), AudioType(48000), AudioType(44100)});
    ComPtr<MediaStream> streams[3];
    for (DWORD i = 0; i < 3; ++i)
        ASSERT_EQ(source->GetStream(i, &streams[i]), S_OK);
    ComPtr<MediaStream> missing;
    EXPECT_EQ(source->GetStream(3, &missing), E_INVALIDARG);
    // Truncated at each step: 166666.6 → 166666 → 24.99 → 24; 213333.3 → 213333 → 31.99 → 31.
    EXPECT_EQ(streams[0]->SampleDuration(), 166666);
    EXPECT_EQ(streams[0]->MaxSampleAge(), 24u);
    EXPECT_EQ(streams[1]->SampleDuration(), 213333);
    EXPECT_EQ(streams[1]->MaxSampleAge(), 31u);
    EXPECT_EQ(streams[2]->SampleDuration(), 232199);
    EXPECT_EQ(streams[2]->MaxSampleAge(), 34u);
    for (DWORD i = 0; i < 3; ++i) {
        ComPtr<IMFStreamDescriptor> descriptor;
        DWORD id = 99;
        ASSERT_EQ(streams[i]->GetStreamDescriptor(&descriptor), S_OK);
        ASSERT_EQ(descriptor->GetStreamIdentifier(&id), S_OK);
        EXPECT_EQ(id, i);
    }
    source->Shutdown();
}

TEST_F(MediaSourceTest, AnswersItsInterfacesAndCharacteristics) {
    const ComPtr<MediaSource> source = CreateSource({VideoType()});
    ComPtr<IMFMediaEventGenerator> generator;
    ComPtr<IMFMediaStream> notAStream;
    EXPECT_EQ(source->QueryInterface(IID_PPV_ARGS(&generator)), S_OK);
    EXPECT_EQ(source->QueryInterface(IID_PPV_ARGS(&notAStream)), E_NOINTERFACE);
    EXPECT_EQ(notAStream, nullptr);
    EXPECT_EQ(source->QueryInterface(__uuidof(IMFMediaSource), nullptr), E_POINTER);
    DWORD characteristics = 0;
    ASSERT_EQ(source->GetCharacteristics(&characteristics), S_OK);
    EXPECT_EQ(characteristics, 5u);
    EXPECT_EQ(source->GetCharacteristics(nullptr), E_POINTER);

    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(source->CreatePresentationDescriptor(&presentation), S_OK);
    DWORD count = 0;
    ASSERT_EQ(presentation->GetStreamDescriptorCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> descriptor;
    ASSERT_EQ(presentation->GetStreamDescriptorByIndex(0, &selected, &descriptor), S_OK);
    EXPECT_TRUE(selected);
    source->Shutdown();
}

TEST_F(MediaSourceTest, StartAnnouncesEachStreamThenTheSourceAndAgainAsUpdatedStreams) {
    StartedSource started;
    ASSERT_TRUE(started.source);
    // StartedSource already read MENewStream ×2 and MESourceStarted; check them on a second start.
    ASSERT_TRUE(started.started);
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(started.source->CreatePresentationDescriptor(&presentation), S_OK);
    PROPVARIANT start;
    PropVariantInit(&start);
    start.vt = VT_I8;
    start.hVal = 1234;
    ASSERT_EQ(started.source->Start(presentation.Get(), nullptr, &start), S_OK);
    const ComPtr<IMFMediaEvent> first = NextEvent(started.source.Get());
    const ComPtr<IMFMediaEvent> second = NextEvent(started.source.Get());
    const ComPtr<IMFMediaEvent> done = NextEvent(started.source.Get());
    ASSERT_TRUE(first && second && done);
    EXPECT_EQ(TypeOf(first.Get()), MEUpdatedStream);
    EXPECT_EQ(ValueOf(first.Get()).Get(),
              static_cast<IUnknown*>(static_cast<IMFMediaStream*>(started.video.Get())));
    EXPECT_EQ(TypeOf(second.Get()), MEUpdatedStream);
    EXPECT_EQ(TypeOf(done.Get()), MESourceStarted);
    EXPECT_EQ(StatusOf(done.Get()), S_OK);
    PROPVARIANT value;
    PropVariantInit(&value);
    ASSERT_EQ(done->GetValue(&value), S_OK);
    EXPECT_EQ(value.vt, VT_I8);
    EXPECT_EQ(value.hVal, 1234);
    const ComPtr<IMFMediaEvent> streamStarted = NextEvent(started.video.Get());
    ASSERT_TRUE(streamStarted);
    EXPECT_EQ(TypeOf(streamStarted.Get()), MEStreamStarted);
}

TEST_F(MediaSourceTest, StartWithNoSelectedStreamFailsAndQueuesNothing) {
    const ComPtr<MediaSource> source = CreateSource({VideoType(), AudioType()});
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(source->CreatePresentationDescriptor(&presentation), S_OK);
    presentation->DeselectStream(0);
    presentation->DeselectStream(1);
    EXPECT_EQ(source->Start(presentation.Get(), nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(source->Start(nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_FALSE(NextEvent(source.Get(), 100ms));
    source->Shutdown();
}

TEST_F(MediaSourceTest, PauseWhileStoppedIsAnInvalidTransitionFollowedByAnError) {
    const ComPtr<MediaSource> source = CreateSource({VideoType()});
    ASSERT_EQ(source->Pause(), S_OK);
    const ComPtr<IMFMediaEvent> paused = NextEvent(source.Get());
    const ComPtr<IMFMediaEvent> error = NextEvent(source.Get());
    ASSERT_TRUE(paused && error);
    EXPECT_EQ(TypeOf(paused.Get()), MESourcePaused);
    EXPECT_EQ(StatusOf(paused.Get()), MakeHResult(0xC00D3E82));
    EXPECT_EQ(TypeOf(error.Get()), MEError);
    EXPECT_EQ(StatusOf(error.Get()), MakeHResult(0xC00D3E82));
    source->Shutdown();
}

TEST_F(MediaSourceTest, StopFromStartedStopsTheStreamsAndAgainIsAnInvalidTransition) {
    StartedSource started;
    ASSERT_TRUE(started.started);
    ASSERT_EQ(started.source->Stop(), S_OK);
    const ComPtr<IMFMediaEvent> stopped = NextEvent(started.source.Get());
    ASSERT_TRUE(stopped);
    EXPECT_EQ(TypeOf(stopped.Get()), MESourceStopped);
    EXPECT_EQ(StatusOf(stopped.Get()), S_OK);
    EXPECT_EQ(started.source->CurrentState(), MediaSource::State::Stopped);
    const ComPtr<IMFMediaEvent> streamStopped = NextEvent(started.audio.Get());
    ASSERT_TRUE(streamStopped);
    EXPECT_EQ(TypeOf(streamStopped.Get()), MEStreamStopped);

    ASSERT_EQ(started.source->Stop(), S_OK);
    const ComPtr<IMFMediaEvent> again = NextEvent(started.source.Get());
    const ComPtr<IMFMediaEvent> error = NextEvent(started.source.Get());
    ASSERT_TRUE(again && error);
    EXPECT_EQ(StatusOf(again.Get()), MF_E_INVALID_STATE_TRANSITION);
    EXPECT_EQ(TypeOf(error.Get()), MEError);
}

TEST_F(MediaSourceTest, ShutdownTwiceAndEverythingAfterIt) {
    StartedSource started;
    ASSERT_TRUE(started.started);
    EXPECT_EQ(started.source->Shutdown(), S_OK);
    EXPECT_EQ(started.source->Shutdown(), MakeHResult(0xC00D3E85));
    ComPtr<IMFPresentationDescriptor> presentation;
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(started.source->CreatePresentationDescriptor(&presentation), MF_E_SHUTDOWN);
    EXPECT_EQ(started.source->Stop(), MF_E_SHUTDOWN);
    EXPECT_EQ(started.source->Pause(), MF_E_SHUTDOWN);
    EXPECT_EQ(started.source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
    EXPECT_EQ(started.source->QueueEvent(MEError, GUID_NULL, E_FAIL, nullptr), S_OK);
    ComPtr<MediaStream> stream;
    EXPECT_EQ(started.source->GetStream(0, &stream), MF_E_SHUTDOWN);
    // The streams went down with their source.
    EXPECT_EQ(started.video->RequestSample(nullptr), MF_E_SHUTDOWN);
    EXPECT_EQ(started.video->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
    ComPtr<IMFMediaSource> owner;
    EXPECT_EQ(started.video->GetMediaSource(&owner), MF_E_SHUTDOWN);
    EXPECT_EQ(started.video->QueueSample(MakeSample({1}, 0, 1).Get()), S_OK);
}

// A failed construction hands out nothing, and whatever it built on the way is released.
TEST_F(MediaSourceTest, AFailedConstructionHandsOutNothingAndKeepsNothing) {
    const ComPtr<IMFMediaType> video = VideoType();
    const ComPtr<IMFMediaType> noRate = VideoType();
    noRate->DeleteItem(MF_MT_FRAME_RATE);
    const ULONG videoReferences = References(video.Get());
    const ULONG noRateReferences = References(noRate.Get());
    HRESULT hr = S_OK;
    // The first stream is made before the second one fails.
    EXPECT_FALSE(CreateSource({video, noRate}, &hr));
    EXPECT_EQ(hr, MF_E_ATTRIBUTENOTFOUND);
    EXPECT_EQ(References(video.Get()), videoReferences);
    EXPECT_EQ(References(noRate.Get()), noRateReferences);

    // A stale out-pointer is cleared; a zero frame rate has no frame duration.
    const ComPtr<MediaSource> good = CreateSource({video});
    ASSERT_TRUE(good);
    MediaSource* source = good.Get();
    ComPtr<IMFMediaType> zeroRate = VideoType(0);
    EXPECT_EQ(MediaSource::CreateInstance(MediaSourceType::Server, 1, zeroRate.GetAddressOf(), &source),
              MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(source, nullptr);

    MediaStream* stream = nullptr;
    ASSERT_EQ(good->GetStream(0, &stream), S_OK);
    stream->Release();
    EXPECT_EQ(MediaStream::CreateInstance(good.Get(), nullptr, &stream), E_POINTER);
    EXPECT_EQ(stream, nullptr);
    good->Shutdown();
}

} // namespace
