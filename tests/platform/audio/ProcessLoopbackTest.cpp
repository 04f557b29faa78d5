// The loopback of a process tree: activation through the asynchronous call, and the mix of the tree's
// playback streams over a sound server the test drives by hand.

#include "AudioTestSupport.h"
#include "FakeSoundServer.h"
#include "platform/audio/AudioClient.h"
#include "platform/audio/MixFormat.h"
#include <audioclientactivationparams.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr UINT32 Rate = FakeOutputRate;
constexpr UINT32 Channels = FakeOutputChannels;

std::vector<float> Constant(float value, std::size_t frames) {
    return std::vector<float>(frames * Channels, value);
}

std::size_t FramesOf(const std::vector<CapturedPacket>& packets, float value) {
    std::size_t samples = 0;
    for (const CapturedPacket& packet : packets)
        samples += static_cast<std::size_t>(std::count(packet.samples.begin(), packet.samples.end(), value));
    return samples / Channels;
}

TEST(ProcessLoopbackTest, ActivationChecksItsRequestAndHandsOutAClientThroughTheHandler) {
    // No server: the client records silence, as the stand-in endpoint's do.
    ScopedEnvironment noServer("PULSE_SERVER", "unix:/nonexistent/native");
    ProcessLoopbackRequest request(static_cast<DWORD>(::getpid()));
    AUDIOCLIENT_ACTIVATION_PARAMS& params = request.params;
    PROPVARIANT& blob = request.blob;

    ComPtr<CompletionHandler> handler = MakeComObject<CompletionHandler>();
    EXPECT_EQ(ActivateAudioInterfaceAsync(VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK, __uuidof(IAudioClient),
                                          &blob, handler.Get(), nullptr),
              E_POINTER);
    const Activation endpointPath = Activate(L"{0.0.0.00000000}.{e0e1e2e3}", __uuidof(IAudioClient), &blob);
    EXPECT_EQ(endpointPath.call, E_NOTIMPL);
    EXPECT_EQ(endpointPath.handlerCalls, 0);

    // A bad request is the operation's result, and the handler hears of it as of a success.
    const auto expectResult = [&](REFIID riid, PROPVARIANT* request, HRESULT expected) {
        const Activation activation = Activate(VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK, riid, request);
        EXPECT_EQ(activation.call, S_OK);
        EXPECT_EQ(activation.handlerCalls, 1);
        EXPECT_EQ(activation.result, expected);
        EXPECT_EQ(activation.activated != nullptr, SUCCEEDED(expected));
        return activation.activated;
    };
    expectResult(__uuidof(IAudioCaptureClient), &blob, E_NOINTERFACE);
    expectResult(__uuidof(IAudioClient), nullptr, E_INVALIDARG);
    blob.blob.cbSize = sizeof(params) - 1;
    expectResult(__uuidof(IAudioClient), &blob, E_INVALIDARG);
    blob.blob.cbSize = sizeof(params);
    params.ProcessLoopbackParams.ProcessLoopbackMode = PROCESS_LOOPBACK_MODE_EXCLUDE_TARGET_PROCESS_TREE;
    expectResult(__uuidof(IAudioClient), &blob, E_NOTIMPL);
    params.ProcessLoopbackParams.ProcessLoopbackMode = PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE;
    params.ProcessLoopbackParams.TargetProcessId = 0;
    expectResult(__uuidof(IAudioClient), &blob, E_INVALIDARG);
    params.ProcessLoopbackParams.TargetProcessId = static_cast<DWORD>(::getpid());

    ComPtr<IUnknown> activated = expectResult(__uuidof(IAudioClient), &blob, S_OK);
    ComPtr<IAudioClient> client;
    ASSERT_EQ(activated.As(&client), S_OK);
    WAVEFORMATEX* mix = nullptr;
    EXPECT_EQ(client->GetMixFormat(&mix), E_NOTIMPL);
    EXPECT_EQ(mix, nullptr);
    const WAVEFORMATEXTENSIBLE format = MixFormatOf(FakeOutput());
    ASSERT_EQ(client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                 RecorderBufferDuration, 0, &format.Format, nullptr),
              S_OK);
    ComPtr<IAudioCaptureClient> capture;
    ASSERT_EQ(client->GetService(IID_PPV_ARGS(&capture)), S_OK);
    ASSERT_EQ(client->Start(), S_OK);
    ASSERT_TRUE(WaitForFirstPacket(capture.Get()));
    std::vector<CapturedPacket> packets;
    ASSERT_EQ(ReadPackets(capture.Get(), Channels, std::chrono::milliseconds(50), packets), S_OK);
    ASSERT_FALSE(packets.empty());
    for (const CapturedPacket& packet : packets)
        EXPECT_EQ(packet.flags, DWORD(AUDCLNT_BUFFERFLAGS_SILENT));
}

TEST(ProcessLoopbackTest, TheTreesStreamsAreMixedWithoutLossOnAnUnbrokenTimelineWithSilenceBetween) {
    auto server = std::make_shared<FakeServer>();
    ComPtr<IAudioClient> client =
        MakeComObject<AudioClient>(server, FakeOutput(), static_cast<DWORD>(::getpid()));
    const WAVEFORMATEXTENSIBLE format = MixFormatOf(FakeOutput());
    ASSERT_EQ(client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK, 10'000'000, 0,
                                 &format.Format, nullptr),
              S_OK);
    ASSERT_NE(server->follower, nullptr);
    FakeFollower& follower = *server->follower;
    EXPECT_EQ(server->followedFormat.samplesPerSecond, Rate);
    EXPECT_EQ(server->followedFormat.channels, Channels);

    // The tree: this process and a child of it, not its parent or anyone else.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    EXPECT_TRUE(follower.handlers.follows(static_cast<std::uint32_t>(::getpid())));
    EXPECT_TRUE(follower.handlers.follows(static_cast<std::uint32_t>(child)));
    EXPECT_FALSE(follower.handlers.follows(static_cast<std::uint32_t>(::getppid())));
    EXPECT_FALSE(follower.handlers.follows(1));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(follower.handlers.follows(static_cast<std::uint32_t>(child)));

    ComPtr<IAudioCaptureClient> capture;
    ASSERT_EQ(client->GetService(IID_PPV_ARGS(&capture)), S_OK);
    // Played before the capture runs: belongs to no capture.
    follower.Play(7, Constant(0.125f, Rate / 10));
    ASSERT_EQ(client->Start(), S_OK);
    EXPECT_TRUE(follower.running);

    // Two streams in a burst, then one that plays a little and ends at once: all of it is heard, mixed.
    follower.Play(7, Constant(0.25f, 6000));
    follower.Play(9, Constant(0.5f, 6000));
    std::vector<CapturedPacket> packets;
    ASSERT_EQ(ReadPackets(capture.Get(), Channels, std::chrono::milliseconds(200), packets), S_OK);
    follower.Play(11, Constant(0.5f, 960));
    follower.handlers.ended(11);
    follower.handlers.ended(7);
    ASSERT_EQ(ReadPackets(capture.Get(), Channels, std::chrono::milliseconds(100), packets), S_OK);

    EXPECT_EQ(FramesOf(packets, 0.125f), 0u);
    EXPECT_EQ(FramesOf(packets, 0.75f), 6000u);
    EXPECT_EQ(FramesOf(packets, 0.5f), 960u);
    ASSERT_GT(packets.size(), 20u);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].frames, Rate / 100);
        EXPECT_EQ(packets[i].devicePosition, i * (Rate / 100)) << "packet " << i;
        EXPECT_EQ(packets[i].flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY, 0u) << "packet " << i;
        for (const float sample : packets[i].samples)
            ASSERT_TRUE(sample == 0.0f || sample == 0.5f || sample == 0.75f) << sample << " in packet " << i;
    }
    // Nothing plays at the end: silence, flagged as such.
    EXPECT_EQ(packets.back().flags, DWORD(AUDCLNT_BUFFERFLAGS_SILENT));

    // Stopped, the streams pause and what still comes is dropped.
    ASSERT_EQ(client->Stop(), S_OK);
    EXPECT_FALSE(follower.running);
    ASSERT_EQ(client->Reset(), S_OK);
    follower.Play(9, Constant(0.5f, 4800));
    UINT32 frames = 1;
    EXPECT_EQ(capture->GetNextPacketSize(&frames), S_OK);
    EXPECT_EQ(frames, 0u);

    // A server that goes away invalidates the client.
    follower.failed = true;
    EXPECT_EQ(capture->GetNextPacketSize(&frames), AUDCLNT_E_DEVICE_INVALIDATED);
    EXPECT_EQ(client->Start(), AUDCLNT_E_DEVICE_INVALIDATED);
}

} // namespace
