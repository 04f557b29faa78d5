#include "AudioTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

INT64 NowHundredNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
               .count() /
           100;
}

// Every test runs where no sound server can answer: a socket path that does not exist.
class NullDeviceTest : public ::testing::Test {
protected:
    ScopedEnvironment m_noServer{"PULSE_SERVER", "unix:/nonexistent/pyx-no-sound-server"};
};

TEST_F(NullDeviceTest, TheDefaultRenderEndpointIsTheSilentStandIn) {
    ComPtr<IMMDeviceEnumerator> enumerator;
    ASSERT_EQ(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(&enumerator)),
              S_OK);

    EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, nullptr), E_POINTER);
    ComPtr<IMMDevice> device;
    EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eAll, eConsole, &device), E_INVALIDARG);
    EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, ERole_enum_count, &device), E_INVALIDARG);
    EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &device), E_NOTIMPL);
    EXPECT_FALSE(device);

    ASSERT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device), S_OK);
    EXPECT_TRUE(IsNullAudioEndpoint(device.Get()));
    EXPECT_FALSE(IsNullAudioEndpoint(nullptr));

    ComPtr<IAudioClient> client;
    EXPECT_EQ(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, static_cast<void**>(nullptr)),
              E_POINTER);
    ComPtr<IMMDevice> notAClient;
    EXPECT_EQ(device->Activate(__uuidof(IMMDevice), CLSCTX_ALL, nullptr, &notAClient), E_NOINTERFACE);
    EXPECT_FALSE(notAClient);
    ASSERT_EQ(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, &client), S_OK);

    WAVEFORMATEX* mix = nullptr;
    ASSERT_EQ(client->GetMixFormat(&mix), S_OK);
    const auto& extensible = *reinterpret_cast<WAVEFORMATEXTENSIBLE*>(mix);
    EXPECT_EQ(extensible.Format.nSamplesPerSec, 48000u);
    EXPECT_EQ(extensible.Format.nChannels, 2);
    EXPECT_EQ(extensible.Format.nBlockAlign, 8);
    EXPECT_EQ(extensible.SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
    EXPECT_EQ(extensible.dwChannelMask, KSAUDIO_SPEAKER_STEREO);
    CoTaskMemFree(mix);
}

TEST_F(NullDeviceTest, TheClientKeepsTheAudioClientRules) {
    ComPtr<IMMDevice> device = DefaultEndpoint();
    ASSERT_TRUE(device);
    ComPtr<IAudioClient> client;
    ASSERT_EQ(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, &client), S_OK);
    WAVEFORMATEX* mix = nullptr;
    ASSERT_EQ(client->GetMixFormat(&mix), S_OK);

    UINT32 bufferFrames = 7;
    ComPtr<IAudioCaptureClient> capture;
    EXPECT_EQ(client->GetBufferSize(&bufferFrames), AUDCLNT_E_NOT_INITIALIZED);
    EXPECT_EQ(bufferFrames, 0u);
    EXPECT_EQ(client->GetService(IID_PPV_ARGS(&capture)), AUDCLNT_E_NOT_INITIALIZED);
    EXPECT_EQ(client->Start(), AUDCLNT_E_NOT_INITIALIZED);

    const DWORD loopback = AUDCLNT_STREAMFLAGS_LOOPBACK;
    EXPECT_EQ(
        client->Initialize(AUDCLNT_SHAREMODE_SHARED, loopback, RecorderBufferDuration, 0, nullptr, nullptr),
        E_POINTER);
    EXPECT_EQ(
        client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, loopback, RecorderBufferDuration, 0, mix, nullptr),
        AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED);
    EXPECT_EQ(client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, RecorderBufferDuration, 0, mix, nullptr),
              E_NOTIMPL);
    EXPECT_EQ(
        client->Initialize(AUDCLNT_SHAREMODE_SHARED, loopback, RecorderBufferDuration, 100000, mix, nullptr),
        E_INVALIDARG);
    EXPECT_EQ(client->Initialize(AUDCLNT_SHAREMODE_SHARED, loopback, 30'000'000, 0, mix, nullptr),
              AUDCLNT_E_BUFFER_SIZE_ERROR);
    WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    EXPECT_EQ(
        client->Initialize(AUDCLNT_SHAREMODE_SHARED, loopback, RecorderBufferDuration, 0, &pcm, nullptr),
        AUDCLNT_E_UNSUPPORTED_FORMAT);

    ASSERT_EQ(client->Initialize(AUDCLNT_SHAREMODE_SHARED, loopback, RecorderBufferDuration, 0, mix, nullptr),
              S_OK);
    EXPECT_EQ(client->Initialize(AUDCLNT_SHAREMODE_SHARED, loopback, RecorderBufferDuration, 0, mix, nullptr),
              AUDCLNT_E_ALREADY_INITIALIZED);
    CoTaskMemFree(mix);

    // 16.7 ms would hold less than two packets: the buffer keeps three 10 ms periods.
    EXPECT_EQ(client->GetBufferSize(&bufferFrames), S_OK);
    EXPECT_EQ(bufferFrames, 1440u);
    REFERENCE_TIME period = 0;
    EXPECT_EQ(client->GetDevicePeriod(&period, nullptr), S_OK);
    EXPECT_EQ(period, 100000);
    EXPECT_EQ(client->GetDevicePeriod(nullptr, nullptr), E_POINTER);

    ComPtr<IAudioClient> notAService;
    EXPECT_EQ(client->GetService(IID_PPV_ARGS(&notAService)), E_NOINTERFACE);
    EXPECT_FALSE(notAService);
    ASSERT_EQ(client->GetService(IID_PPV_ARGS(&capture)), S_OK);
    EXPECT_EQ(capture->GetNextPacketSize(nullptr), E_POINTER);
    UINT32 frames = 0;
    DWORD flags = 0;
    EXPECT_EQ(capture->GetBuffer(nullptr, &frames, &flags, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(capture->ReleaseBuffer(0), AUDCLNT_E_OUT_OF_ORDER);

    EXPECT_EQ(client->Stop(), S_FALSE);
    EXPECT_EQ(client->Start(), S_OK);
    EXPECT_EQ(client->Start(), AUDCLNT_E_NOT_STOPPED);
    EXPECT_EQ(client->Reset(), AUDCLNT_E_NOT_STOPPED);
    EXPECT_EQ(client->Stop(), S_OK);
    EXPECT_EQ(client->Reset(), S_OK);

    // The capture client keeps its audio client alive.
    device = nullptr;
    client = nullptr;
    EXPECT_EQ(capture->GetNextPacketSize(&frames), S_OK);
}

TEST_F(NullDeviceTest, SilentPacketsComeAtRealTimePace) {
    // 100 ms of buffer: a reader held up by a busy machine still loses nothing.
    LoopbackStream stream = OpenLoopback(1'000'000);
    ASSERT_TRUE(stream.capture);
    const INT64 before = NowHundredNanoseconds();
    ASSERT_EQ(stream.client->Start(), S_OK);
    std::vector<CapturedPacket> packets;
    ASSERT_EQ(ReadPackets(stream.capture.Get(), 2, std::chrono::milliseconds(300), packets), S_OK);
    const INT64 after = NowHundredNanoseconds();
    ASSERT_FALSE(packets.empty());

    UINT64 nextPosition = 0;
    for (const CapturedPacket& packet : packets) {
        EXPECT_EQ(packet.frames, 480u);
        EXPECT_NE(packet.flags & AUDCLNT_BUFFERFLAGS_SILENT, 0u);
        EXPECT_TRUE(
            std::all_of(packet.samples.begin(), packet.samples.end(), [](float s) { return s == 0.0f; }));
        // Frames are only skipped where a packet says so.
        if ((packet.flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) == 0) {
            EXPECT_EQ(packet.devicePosition, nextPosition);
        }
        // Silence is stamped with the clock it is made by, frame for frame.
        EXPECT_EQ(packet.qpcPosition,
                  packets.front().qpcPosition + packet.devicePosition * 10'000'000 / 48000);
        nextPosition = packet.devicePosition + packet.frames;
    }
    EXPECT_GE(static_cast<INT64>(packets.front().qpcPosition), before);
    EXPECT_LE(static_cast<INT64>(packets.back().qpcPosition), after);
    // Everything due while reading, less what had not yet filled a packet at the last look (and some slack
    // for a reader that a busy machine holds up after it).
    const UINT64 dueAtMost = static_cast<UINT64>(after - before) * 48000 / 10'000'000;
    EXPECT_LE(nextPosition, dueAtMost);
    EXPECT_GE(nextPosition + 5 * 480, dueAtMost);
}

TEST_F(NullDeviceTest, StopFromAnotherThreadEndsThePackets) {
    LoopbackStream stream = OpenLoopback();
    ASSERT_TRUE(stream.capture);
    ASSERT_EQ(stream.client->Start(), S_OK);
    std::atomic<HRESULT> readResult{E_FAIL};
    std::vector<CapturedPacket> packets;
    std::thread reader(
        [&] { readResult = ReadPackets(stream.capture.Get(), 2, std::chrono::milliseconds(200), packets); });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(stream.client->Stop(), S_OK);
    reader.join();
    EXPECT_EQ(readResult.load(), S_OK);

    // What was due at Stop may still be read; nothing comes after it.
    std::vector<CapturedPacket> drained;
    ASSERT_EQ(ReadPackets(stream.capture.Get(), 2, std::chrono::milliseconds(20), drained), S_OK);
    std::vector<CapturedPacket> later;
    ASSERT_EQ(ReadPackets(stream.capture.Get(), 2, std::chrono::milliseconds(60), later), S_OK);
    EXPECT_TRUE(later.empty());
    EXPECT_FALSE(packets.empty());
    EXPECT_LE(packets.size(), 8u);
}

} // namespace
