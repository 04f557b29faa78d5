// Capture from the test wrapper's sound server: its null sink is the default output.
#include "AudioTestSupport.h"
#include "PrivateSoundServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>

namespace {

struct SinkSpec {
    UINT32 rate = 0;
    UINT32 channels = 0;
};

// The wrapper's only sink, as the server's own tool describes it ("... s16le 2ch 44100Hz ...").
SinkSpec WrapperSink() {
    const ProcessResult listing = RunProcess({FindProgram("pactl"), "list", "short", "sinks"});
    SinkSpec spec;
    std::istringstream words(listing.standardOutput);
    for (std::string word; words >> word;) {
        if (word.ends_with("ch"))
            spec.channels = static_cast<UINT32>(std::stoul(word));
        else if (word.ends_with("Hz"))
            spec.rate = static_cast<UINT32>(std::stoul(word));
    }
    return spec;
}

// Crossings from below zero to zero or above per second, over a stretch of one channel.
double RisingCrossingsPerSecond(const std::vector<float>& samples, UINT32 rate) {
    int crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i)
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f)
            ++crossings;
    return crossings * static_cast<double>(rate) / static_cast<double>(samples.size());
}

// Positions follow on unless a gap is marked; times rise and, however the server bunches its fragments, keep
// the sound's own pace.
void ExpectOrderlyPackets(const std::vector<CapturedPacket>& packets, UINT32 rate) {
    ASSERT_FALSE(packets.empty());
    const auto span = [&](UINT64 frames) {
        return static_cast<INT64>(frames * 10'000'000 / rate);
    };
    INT64 paceFrom = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].frames, rate / 100);
        if (i == 0)
            continue;
        EXPECT_GT(packets[i].qpcPosition, packets[i - 1].qpcPosition);
        const UINT64 following = packets[i - 1].devicePosition + packets[i - 1].frames;
        if ((packets[i].flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) == 0) {
            EXPECT_EQ(packets[i].devicePosition, following);
        } else {
            EXPECT_GT(packets[i].devicePosition, following);
            paceFrom = static_cast<INT64>(i);
        }
    }
    const CapturedPacket& from = packets[static_cast<std::size_t>(paceFrom)];
    const CapturedPacket& to = packets.back();
    // Within a fragment and a half of the server's 40 ms.
    EXPECT_NEAR(static_cast<double>(to.qpcPosition - from.qpcPosition),
                static_cast<double>(span(to.devicePosition - from.devicePosition)), 600000.0);
}

TEST(LoopbackCaptureTest, APlayedToneComesBackInTheSinksFormatAndChannelOrder) {
    const SinkSpec sink = WrapperSink();
    ASSERT_GE(sink.channels, 2u);
    LoopbackStream stream = OpenLoopback();
    ASSERT_TRUE(stream.capture);
    EXPECT_FALSE(IsNullAudioEndpoint(stream.device.Get()));
    EXPECT_EQ(stream.format.Format.nSamplesPerSec, sink.rate);
    EXPECT_EQ(stream.format.Format.nChannels, sink.channels);
    EXPECT_EQ(stream.format.SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
    EXPECT_EQ(stream.format.dwChannelMask & KSAUDIO_SPEAKER_STEREO, KSAUDIO_SPEAKER_STEREO);

    // 0.5 s: 1000 Hz on the left, 1500 Hz on the right, half amplitude.
    const UINT32 rate = sink.rate;
    const UINT32 channels = sink.channels;
    const char* folder = std::getenv("TMPDIR");
    const std::string tonePath = std::string(folder != nullptr ? folder : "/tmp") + "/pyx-loopback-tone.raw";
    {
        std::vector<float> tone(std::size_t{rate} / 2 * channels, 0.0f);
        for (std::size_t frame = 0; frame < tone.size() / channels; ++frame) {
            const double t = static_cast<double>(frame) / rate;
            tone[frame * channels] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000 * t));
            tone[frame * channels + 1] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1500 * t));
        }
        std::ofstream(tonePath, std::ios::binary)
            .write(reinterpret_cast<const char*>(tone.data()), static_cast<std::streamsize>(tone.size() * 4));
    }

    ASSERT_EQ(stream.client->Start(), S_OK);
    ASSERT_TRUE(WaitForFirstPacket(stream.capture.Get()));
    ChildProcess player({FindProgram("paplay"), "--raw", "--format=float32le",
                         "--rate=" + std::to_string(rate), "--channels=" + std::to_string(channels),
                         tonePath});
    std::vector<CapturedPacket> packets;
    const HRESULT read =
        ReadPackets(stream.capture.Get(), channels, std::chrono::milliseconds(1000), packets);
    const ProcessResult played = player.Wait(std::chrono::milliseconds(5000));
    std::remove(tonePath.c_str());
    ASSERT_EQ(read, S_OK);
    ASSERT_EQ(played.exitStatus, 0) << played.standardError;
    EXPECT_EQ(stream.client->Stop(), S_OK);
    ExpectOrderlyPackets(packets, rate);

    // The tone's packets, less the first and last, which it only partly fills.
    const auto sounding = [](const CapturedPacket& p) {
        return (p.flags & AUDCLNT_BUFFERFLAGS_SILENT) == 0;
    };
    const auto first = std::find_if(packets.begin(), packets.end(), sounding);
    const auto last = std::find_if(packets.rbegin(), packets.rend(), sounding).base();
    ASSERT_GT(std::distance(first, last), 40) << "less than 0.4 s of the tone came back";
    std::vector<float> left;
    std::vector<float> right;
    float peak = 0.0f;
    // A reader starved of the processor may fall behind the server and lose some of the tone; the packet
    // after such a loss says so, and a few of them do not change what the tone sounds like.
    int discontinuities = 0;
    for (auto packet = first + 1; packet != last - 1; ++packet) {
        EXPECT_EQ(packet->flags & ~DWORD(AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY), 0u);
        discontinuities += (packet->flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0 ? 1 : 0;
        for (std::size_t frame = 0; frame < packet->frames; ++frame) {
            left.push_back(packet->samples[frame * channels]);
            right.push_back(packet->samples[frame * channels + 1]);
            peak = std::max(peak, std::abs(left.back()));
        }
    }
    EXPECT_LE(discontinuities, 2);
    EXPECT_NEAR(RisingCrossingsPerSecond(left, rate), 1000.0, 10.0);
    EXPECT_NEAR(RisingCrossingsPerSecond(right, rate), 1500.0, 15.0);
    EXPECT_NEAR(peak, 0.5f, 0.02f);
}

} // namespace
