// Servers that go away and come back, on servers of the test's own.
#include "AudioTestSupport.h"
#include "PrivateSoundServer.h"

#include <gtest/gtest.h>

namespace {

HRESULT NextPacketSize(IAudioCaptureClient* capture) {
    UINT32 frames = 0;
    return capture->GetNextPacketSize(&frames);
}

TEST(ServerLifecycleTest, AServerThatGoesAwayInvalidatesTheClientAndANewClientWorksWhenItIsBack) {
    PrivateSoundServer server({"rate=32000", "channels=1"});
    ASSERT_NO_FATAL_FAILURE(server.Start());
    ScopedEnvironment address("PULSE_SERVER", server.Address());

    LoopbackStream stream = OpenLoopback();
    ASSERT_TRUE(stream.capture);
    EXPECT_EQ(stream.format.Format.nSamplesPerSec, 32000u);
    EXPECT_EQ(stream.format.Format.nChannels, 1);
    EXPECT_EQ(stream.format.dwChannelMask, KSAUDIO_SPEAKER_MONO);
    ASSERT_EQ(stream.client->Start(), S_OK);
    ASSERT_TRUE(WaitForFirstPacket(stream.capture.Get()));
    std::vector<CapturedPacket> packets;
    ASSERT_EQ(ReadPackets(stream.capture.Get(), 1, std::chrono::milliseconds(150), packets), S_OK);
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.front().frames, 320u);

    server.Kill();
    ASSERT_TRUE(
        Eventually([&] { return NextPacketSize(stream.capture.Get()) == AUDCLNT_E_DEVICE_INVALIDATED; }));
    ComPtr<IAudioClient> another;
    EXPECT_EQ(stream.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, &another),
              AUDCLNT_E_DEVICE_INVALIDATED);

    // Meanwhile the default endpoint is the stand-in.
    EXPECT_TRUE(IsNullAudioEndpoint(DefaultEndpoint().Get()));

    ASSERT_NO_FATAL_FAILURE(server.Start());
    LoopbackStream again = OpenLoopback();
    ASSERT_TRUE(again.capture);
    EXPECT_FALSE(IsNullAudioEndpoint(again.device.Get()));
    EXPECT_EQ(again.format.Format.nSamplesPerSec, 32000u);
    ASSERT_EQ(again.client->Start(), S_OK);
    EXPECT_TRUE(WaitForFirstPacket(again.capture.Get()));
    packets.clear();
    ASSERT_EQ(ReadPackets(again.capture.Get(), 1, std::chrono::milliseconds(150), packets), S_OK);
    EXPECT_FALSE(packets.empty());
}

TEST(ServerLifecycleTest, TheStandInGivesWayOnceAServerIsUp) {
    // Four speakers in an order of the server's own: the channels come in the WAVE order, as a quad layout.
    PrivateSoundServer server({"channels=4", "channel_map=front-left,rear-left,front-right,rear-right"});
    ScopedEnvironment address("PULSE_SERVER", server.Address());

    LoopbackStream standIn = OpenLoopback();
    ASSERT_TRUE(standIn.capture);
    EXPECT_TRUE(IsNullAudioEndpoint(standIn.device.Get()));
    ASSERT_EQ(standIn.client->Start(), S_OK);
    EXPECT_EQ(NextPacketSize(standIn.capture.Get()), S_OK);

    ASSERT_NO_FATAL_FAILURE(server.Start());
    EXPECT_TRUE(
        Eventually([&] { return NextPacketSize(standIn.capture.Get()) == AUDCLNT_E_DEVICE_INVALIDATED; }));

    LoopbackStream real = OpenLoopback();
    ASSERT_TRUE(real.capture);
    EXPECT_FALSE(IsNullAudioEndpoint(real.device.Get()));
    EXPECT_EQ(real.format.Format.nChannels, 4);
    EXPECT_EQ(real.format.dwChannelMask, static_cast<DWORD>(SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT |
                                                            SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT));
}

} // namespace
