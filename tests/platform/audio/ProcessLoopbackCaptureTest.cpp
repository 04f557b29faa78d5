// The loopback of a process tree on the test wrapper's sound server: this test process is the tree's root.
#include "AudioTestSupport.h"
#include "PrivateSoundServer.h"
#include "TransformTestSupport.h"
#include <audioclientactivationparams.h>

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr float Heard = 0.15f; // a tone of amplitude 0.3 measures about that much and more
constexpr float Absent = 0.01f;

ComPtr<IAudioClient> ActivateForThisProcess() {
    ProcessLoopbackRequest request(static_cast<DWORD>(::getpid()));
    const Activation activation =
        Activate(VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK, __uuidof(IAudioClient), &request.blob);
    EXPECT_EQ(activation.result, S_OK);
    ComPtr<IAudioClient> client;
    if (activation.activated)
        activation.activated.As(&client);
    return client;
}

// The first channel of what was read.
std::vector<float> FirstChannel(const std::vector<CapturedPacket>& packets, UINT32 channels) {
    std::vector<float> samples;
    for (const CapturedPacket& packet : packets)
        for (std::size_t frame = 0; frame < packet.frames; ++frame)
            samples.push_back(packet.samples[frame * channels]);
    return samples;
}

// The server's index of the playback stream of a process.
std::string SinkInputOf(pid_t process) {
    const ProcessResult listing = RunProcess({FindProgram("pactl"), "list", "sink-inputs"});
    std::istringstream lines(listing.standardOutput);
    std::string index;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("Sink Input #"))
            index = line.substr(12);
        if (line.find("application.process.id = \"" + std::to_string(process) + "\"") != std::string::npos)
            return index;
    }
    return {};
}

TEST(ProcessLoopbackCaptureTest, TheTreesStreamIsHeardAcrossAMoveAndAnotherProgramsIsNot) {
    const std::string pactl = FindProgram("pactl");
    const ProcessResult loaded =
        RunProcess({pactl, "load-module", "module-null-sink", "sink_name=pyx_second"});
    ASSERT_EQ(loaded.exitStatus, 0) << loaded.standardError;
    // Outside this process's tree: started through a shell that leaves it to the system at once.
    const ProcessResult outsider = RunProcess(
        {"/bin/sh", "-c", std::string(PYX_TEST_TONE_BINARY) + " 1000 >/dev/null 2>&1 </dev/null & echo $!"});
    const pid_t outsiderPid = static_cast<pid_t>(std::stol(outsider.standardOutput));

    LoopbackStream device = OpenLoopback();
    ASSERT_TRUE(device.client);
    const UINT32 channels = device.format.Format.nChannels;
    const int rate = static_cast<int>(device.format.Format.nSamplesPerSec);
    ComPtr<IAudioClient> client = ActivateForThisProcess();
    ASSERT_TRUE(client);
    ASSERT_EQ(client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                 RecorderBufferDuration, 0, &device.format.Format, nullptr),
              S_OK);
    ComPtr<IAudioCaptureClient> capture;
    ASSERT_EQ(client->GetService(IID_PPV_ARGS(&capture)), S_OK);
    ASSERT_EQ(client->Start(), S_OK);

    ChildProcess tone({PYX_TEST_TONE_BINARY, "660"});
    ASSERT_TRUE(Eventually([&] { return tone.StandardOutput() == "playing\n"; })) << tone.StandardError();
    std::vector<CapturedPacket> before;
    ASSERT_EQ(ReadPackets(capture.Get(), channels, std::chrono::milliseconds(700), before), S_OK);
    const std::string input = SinkInputOf(tone.Pid());
    ASSERT_FALSE(input.empty());
    ASSERT_EQ(RunProcess({pactl, "move-sink-input", input, "pyx_second"}).exitStatus, 0);
    std::vector<CapturedPacket> after;
    ASSERT_EQ(ReadPackets(capture.Get(), channels, std::chrono::milliseconds(700), after), S_OK);
    ::kill(outsiderPid, SIGTERM);
    RunProcess({pactl, "unload-module", loaded.standardOutput.substr(0, loaded.standardOutput.find('\n'))});

    // The last half of each stretch: the stream is followed again within a fraction of a second of its move.
    for (const std::vector<CapturedPacket>* stretch : {&before, &after}) {
        const std::vector<float> samples = FirstChannel(*stretch, channels);
        ASSERT_GT(samples.size(), std::size_t(rate / 2));
        const std::size_t half = samples.size() / 2;
        EXPECT_GT(ToneLevel(samples, half, samples.size() - half, 660, rate), Heard);
        EXPECT_LT(ToneLevel(samples, 0, samples.size(), 1000, rate), Absent);
    }
}

} // namespace
