// The loopback stream over a sound server of the test's own: frames handed over as a sink's monitor hands
// them over come out as capture packets, and a server that goes away invalidates the clients on it.

#include "AudioTestSupport.h"
#include "FakeSoundServer.h"
#include "platform/audio/AudioEndpoint.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr UINT32 Rate = FakeOutputRate;
constexpr UINT32 Channels = FakeOutputChannels;
constexpr UINT32 PacketFrames = 480;
constexpr UINT64 PacketDuration = 100000;

// Sample values that tell every frame and channel apart.
std::vector<float> Ramp(std::size_t firstFrame, std::size_t frames) {
    std::vector<float> samples(frames * Channels);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(firstFrame * Channels + i + 1);
    return samples;
}

ComPtr<IMMDevice> Endpoint(std::shared_ptr<FakeServer> server) {
    return MakeComObject<AudioEndpoint>(std::move(server), FakeOutput());
}

std::vector<CapturedPacket> ReadAvailable(IAudioCaptureClient* capture) {
    std::vector<CapturedPacket> packets;
    EXPECT_EQ(ReadPackets(capture, Channels, std::chrono::milliseconds(1), packets), S_OK);
    return packets;
}

TEST(MonitorLoopbackTest, MonitorFramesBecomePeriodPacketsThatKeepGapsSilenceAndTime) {
    auto server = std::make_shared<FakeServer>();
    LoopbackStream stream = OpenLoopback(Endpoint(server), 1'000'000);
    ASSERT_TRUE(stream.capture);
    FakeStream& monitor = *server->stream;

    // Frames that arrive while the stream is not started belong to no capture.
    monitor.Feed(Ramp(0, PacketFrames));
    ASSERT_EQ(stream.client->Start(), S_OK);
    EXPECT_TRUE(monitor.running);
    EXPECT_TRUE(ReadAvailable(stream.capture.Get()).empty());

    // Fragments of any length, a gap the server could not deliver, then real silence and sound again.
    const std::vector<float> sound = Ramp(0, 2 * PacketFrames);
    std::size_t fed = 0;
    for (const std::size_t frames : {300, 400, 260}) {
        monitor.Feed(sound.data() + fed * Channels, frames);
        fed += frames;
    }
    monitor.Gap(PacketFrames);
    monitor.Feed(std::vector<float>(PacketFrames * Channels, 0.0f));
    monitor.Feed(Ramp(2 * PacketFrames, PacketFrames));

    const std::vector<CapturedPacket> packets = ReadAvailable(stream.capture.Get());
    ASSERT_EQ(packets.size(), 5u);
    const DWORD silent = AUDCLNT_BUFFERFLAGS_SILENT;
    const DWORD gap = AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY;
    const DWORD flags[] = {0, 0, gap | silent, silent, 0};
    for (std::size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].frames, PacketFrames);
        EXPECT_EQ(packets[i].devicePosition, i * PacketFrames);
        EXPECT_EQ(packets[i].flags, flags[i]) << "packet " << i;
        // Frames handed over in a burst are stamped one after the other, never earlier than the last.
        if (i > 0) {
            EXPECT_GE(packets[i].qpcPosition, packets[i - 1].qpcPosition + PacketDuration);
        }
    }
    EXPECT_EQ(packets[0].samples, Ramp(0, PacketFrames));
    EXPECT_EQ(packets[1].samples, Ramp(PacketFrames, PacketFrames));
    EXPECT_EQ(packets[4].samples, Ramp(2 * PacketFrames, PacketFrames));

    // Stopped, the stream pauses and drops what still comes; a reset starts the positions again.
    EXPECT_EQ(stream.client->Stop(), S_OK);
    EXPECT_FALSE(monitor.running);
    monitor.Feed(Ramp(0, PacketFrames));
    EXPECT_TRUE(ReadAvailable(stream.capture.Get()).empty());
    EXPECT_EQ(stream.client->Reset(), S_OK);
    ASSERT_EQ(stream.client->Start(), S_OK);
    monitor.Feed(Ramp(0, PacketFrames));
    const std::vector<CapturedPacket> again = ReadAvailable(stream.capture.Get());
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].devicePosition, 0u);
    EXPECT_EQ(again[0].flags, 0u);
}

TEST(MonitorLoopbackTest, AServerThatGoesAwayInvalidatesItsClientsAndANewServerStartsAfresh) {
    auto server = std::make_shared<FakeServer>();
    ComPtr<IMMDevice> device = Endpoint(server);
    ComPtr<IAudioClient> spare;
    ASSERT_EQ(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, &spare), S_OK);
    LoopbackStream stream = OpenLoopback(device);
    ASSERT_TRUE(stream.capture);
    ASSERT_EQ(stream.client->Start(), S_OK);
    server->stream->Feed(Ramp(0, PacketFrames));
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    ASSERT_EQ(stream.capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), S_OK);

    // The stream fails first: every call on its client says so, a held packet included.
    server->stream->failed = true;
    const HRESULT invalidated = AUDCLNT_E_DEVICE_INVALIDATED;
    EXPECT_EQ(stream.capture->ReleaseBuffer(frames), invalidated);
    EXPECT_EQ(stream.capture->GetNextPacketSize(&frames), invalidated);
    EXPECT_EQ(frames, 0u);
    EXPECT_EQ(stream.capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr), invalidated);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(stream.client->Stop(), invalidated);
    EXPECT_EQ(stream.client->Start(), invalidated);
    EXPECT_EQ(stream.client->Reset(), invalidated);
    EXPECT_EQ(stream.client->GetBufferSize(&frames), invalidated);
    REFERENCE_TIME period = 1;
    EXPECT_EQ(stream.client->GetDevicePeriod(&period, nullptr), invalidated);
    EXPECT_EQ(period, 0);
    WAVEFORMATEX* mix = nullptr;
    EXPECT_EQ(stream.client->GetMixFormat(&mix), invalidated);
    EXPECT_EQ(mix, nullptr);
    ComPtr<IAudioCaptureClient> capture;
    EXPECT_EQ(stream.client->GetService(IID_PPV_ARGS(&capture)), invalidated);

    // A client that cannot open its stream is invalidated as well; then the server itself is gone.
    server->refusesStreams = true;
    ASSERT_EQ(spare->GetMixFormat(&mix), S_OK);
    EXPECT_EQ(spare->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                RecorderBufferDuration, 0, mix, nullptr),
              invalidated);
    CoTaskMemFree(mix);
    server->failed = true;
    mix = nullptr;
    EXPECT_EQ(spare->GetMixFormat(&mix), invalidated);
    ComPtr<IAudioClient> another;
    EXPECT_EQ(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, &another), invalidated);
    EXPECT_FALSE(another);

    // The recorder opens the endpoint again: the new stream starts from scratch.
    auto back = std::make_shared<FakeServer>();
    LoopbackStream reopened = OpenLoopback(Endpoint(back));
    ASSERT_TRUE(reopened.capture);
    ASSERT_EQ(reopened.client->Start(), S_OK);
    back->stream->Feed(Ramp(0, PacketFrames));
    const std::vector<CapturedPacket> packets = ReadAvailable(reopened.capture.Get());
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].devicePosition, 0u);
    EXPECT_EQ(packets[0].flags, 0u);
    EXPECT_EQ(packets[0].samples, Ramp(0, PacketFrames));
}

} // namespace
