// The real recorder against a real X11 program under Xvfb with a window manager and a private PulseAudio
// server: what lands in NAME.mp4 and NAME.jpg, with each audio mode.

#include "MediaProbe.h"
#include "ProcessRunner.h"
#include "TempDirectory.h"
#include "TestWindowProcess.h"
#include "TransformTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <thread>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int Width = 320;
constexpr int Height = 240;
constexpr int Duration = 3; // seconds per ring segment
constexpr double Gop = 2.0; // seconds between key frames
constexpr int AudioRate = 48000;

std::vector<float> DecodeAudioMono(const fs::path& file) {
    const CommandResult result = RunCommand(
        {"ffmpeg", "-v", "error", "-i", file.string(), "-map", "0:a", "-ac", "1", "-f", "f32le", "-"});
    std::vector<float> samples(result.output.size() / sizeof(float));
    std::memcpy(samples.data(), result.output.data(), samples.size() * sizeof(float));
    return samples;
}

double Number(const ProbedStream& stream, const std::string& key) {
    const auto found = stream.find(key);
    return found == stream.end() ? std::nan("") : std::atof(found->second.c_str());
}

const ProbedStream* StreamOf(const std::vector<ProbedStream>& streams, const std::string& type) {
    for (const ProbedStream& stream : streams)
        if (stream.at("codec_type") == type)
            return &stream;
    return nullptr;
}

double MeanLuma(const YuvFrame& frame) {
    double sum = 0;
    for (std::uint8_t value : frame.y)
        sum += value;
    return sum / double(frame.y.size());
}

// What ffmpeg reports while decoding the whole file.
std::string DecodeErrors(const fs::path& file) {
    return RunProcess(
               {"/usr/bin/ffprobe", "-v", "error", "-show_entries", "frame=pts", "-of", "csv", file.string()})
        .standardError;
}

// The level of each frequency in consecutive quarter seconds of the recording's sound.
std::vector<std::map<int, double>> ToneLevels(const std::vector<float>& audio,
                                              std::initializer_list<int> tones) {
    constexpr std::size_t Window = AudioRate / 4;
    std::vector<std::map<int, double>> levels;
    for (std::size_t begin = 0; begin + Window <= audio.size(); begin += Window) {
        levels.emplace_back();
        for (const int hz : tones)
            levels.back()[hz] = ToneLevel(audio, begin, Window, hz, AudioRate);
    }
    return levels;
}

// The first quarter second from `from` on where the tone is heard; levels.size() when none.
std::size_t FirstHeard(const std::vector<std::map<int, double>>& levels, int hz, std::size_t from = 0) {
    for (std::size_t i = from; i < levels.size(); ++i)
        if (levels[i].at(hz) > 0.15)
            return i;
    return levels.size();
}

double LargestGap(const std::vector<ProbedPacket>& packets) {
    double gap = 0;
    for (std::size_t i = 1; i < packets.size(); ++i)
        gap = std::max(gap, packets[i].time - (packets[i - 1].time + packets[i - 1].duration));
    return gap;
}

class RecordingTest : public ::testing::Test {
protected:
    fs::path Output(const std::string& suffix) const { return m_dir / ("report" + suffix); }

    void StartRecorder(const std::vector<std::string>& extra = {}, const ProcessOptions& options = {}) {
        std::vector<std::string> arguments{PyxVideoBinary(), "--pid=" + std::to_string(m_target.Pid()),
                                           "--duration",     std::to_string(m_duration),
                                           "--file",         (m_dir / "report").string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        m_recorder = std::make_unique<ChildProcess>(arguments, options);
        ASSERT_TRUE(LogShows("found window: pid(" + std::to_string(m_target.Pid())));
    }

    bool LogShows(const std::string& text, std::chrono::milliseconds timeout = 15s) const {
        return Eventually([&] { return m_recorder->StandardError().find(text) != std::string::npos; },
                          timeout);
    }

    ProcessResult Save() {
        m_recorder->Signal(SIGUSR1);
        ProcessResult result = m_recorder->Wait(30s);
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        return result;
    }

    // H.264 at the window's size and AAC at 48 kHz stereo, each starting within 100 ms of the other.
    void ExpectWindowAndSoundStreams() {
        const std::vector<ProbedStream> streams = ProbeStreams(Output(".mp4"));
        const ProbedStream* video = StreamOf(streams, "video");
        const ProbedStream* audio = StreamOf(streams, "audio");
        ASSERT_NE(video, nullptr);
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(video->at("codec_name"), "h264");
        EXPECT_EQ(video->at("width"), std::to_string(Width));
        EXPECT_EQ(video->at("height"), std::to_string(Height));
        EXPECT_EQ(audio->at("codec_name"), "aac");
        EXPECT_EQ(audio->at("sample_rate"), std::to_string(AudioRate));
        EXPECT_EQ(audio->at("channels"), "2");
        EXPECT_NEAR(Number(*video, "start_time"), Number(*audio, "start_time"), 0.1);
    }

    // The picture of the window in NAME.jpg, whose colour the window showed last.
    void ExpectImageOfWindow(int r, int g, int b) {
        const CommandResult decoded = RunCommand({"ffmpeg", "-v", "error", "-i", Output(".jpg").string(),
                                                  "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
        ASSERT_EQ(decoded.output.size(), std::size_t(Width) * Height * 3);
        const std::size_t centre = (std::size_t(Height / 2) * Width + Width / 2) * 3;
        EXPECT_NEAR(static_cast<unsigned char>(decoded.output[centre]), r, 24);
        EXPECT_NEAR(static_cast<unsigned char>(decoded.output[centre + 1]), g, 24);
        EXPECT_NEAR(static_cast<unsigned char>(decoded.output[centre + 2]), b, 24);
    }

    // A tone played by a program the recorder does not watch, before the recording starts.
    void PlayOtherTone(int hz) {
        m_other = std::make_unique<ChildProcess>(
            std::vector<std::string>{PYX_TEST_TONE_BINARY, std::to_string(hz)});
        ASSERT_TRUE(Eventually([&] { return m_other->StandardOutput() == "playing\n"; }))
            << m_other->StandardError();
    }

    int m_duration = Duration;
    TempDirectory m_temp;
    fs::path m_dir = m_temp.Path("");
    TestWindowProcess m_target;
    std::unique_ptr<ChildProcess> m_recorder;
    std::unique_ptr<ChildProcess> m_other;
};

TEST_F(RecordingTest, RecordsTheWindowAndItsToneInStepForOneToTwoRingDurations) {
    m_target.Create("main " + std::to_string(Width) + " " + std::to_string(Height) + " 50 50 000000");
    StartRecorder();
    std::this_thread::sleep_for(6s);
    // Only writing a file needs the muxing library; a recorder that has not saved yet does not carry it.
    std::ifstream mapsFile("/proc/" + std::to_string(m_recorder->Pid()) + "/maps");
    const std::string maps{std::istreambuf_iterator<char>(mapsFile), std::istreambuf_iterator<char>()};
    ASSERT_NE(maps.find("libavcodec"), std::string::npos);
    EXPECT_EQ(maps.find("libavformat"), std::string::npos);
    // The window turns white as the tone starts: both must land at the same place of the timeline.
    ASSERT_EQ(m_target.Command("color main FFFFFF"), "ok");
    ASSERT_EQ(m_target.Command("tone 1000"), "ok");
    std::this_thread::sleep_for(2500ms);
    Save();

    ExpectWindowAndSoundStreams();
    const fs::path file = Output(".mp4");
    const std::vector<ProbedPacket> video = ProbePackets(file, "v");
    ASSERT_FALSE(video.empty());
    EXPECT_TRUE(video.front().keyFrame);
    const double length = video.back().time + video.back().duration - video.front().time;
    EXPECT_GE(length, Duration);
    EXPECT_LE(length, 2 * Duration + Gop);

    const std::vector<float> audio = DecodeAudioMono(file);
    const std::vector<ProbedPacket> audioPackets = ProbePackets(file, "a");
    ASSERT_FALSE(audioPackets.empty());
    const auto loud = std::find_if(audio.begin(), audio.end(), [](float s) { return std::fabs(s) > 0.05f; });
    ASSERT_NE(loud, audio.end()) << "the tone is missing";
    const std::vector<float> tone(loud, audio.end());
    EXPECT_NEAR(ToneFrequency(tone, AudioRate), 1000.0, 5.0);
    const double soundStart = audioPackets.front().time + double(loud - audio.begin()) / AudioRate;

    const std::vector<YuvFrame> frames = DecodeEveryNthFrame(file, Width, Height, 1);
    ASSERT_EQ(frames.size(), video.size());
    const auto white =
        std::find_if(frames.begin(), frames.end(), [](const YuvFrame& f) { return MeanLuma(f) > 128; });
    ASSERT_NE(white, frames.end()) << "the white window is missing";
    const double pictureStart = video[std::size_t(white - frames.begin())].time;
    EXPECT_NEAR(soundStart, pictureStart, 0.1);

    ExpectImageOfWindow(255, 255, 255);
}

TEST_F(RecordingTest, MinimiseAndRestoreKeepTheTimelineContinuous) {
    m_target.Create("main " + std::to_string(Width) + " " + std::to_string(Height) + " 50 50 00FF00");
    m_target.Command("animate main");
    ASSERT_EQ(m_target.Command("tone 440"), "ok");
    StartRecorder();
    std::this_thread::sleep_for(2s);
    // A window manager busy on a loaded machine may miss a request: ask again.
    bool lost = false;
    for (int attempt = 0; attempt < 3 && !lost; ++attempt) {
        m_target.Command("iconify main");
        lost = LogShows("lost window: pid(" + std::to_string(m_target.Pid()), 5s);
    }
    ASSERT_TRUE(lost) << m_recorder->StandardError();
    std::this_thread::sleep_for(1500ms);
    m_target.Command("map main");
    ASSERT_TRUE(LogShows("found window: pid(" + std::to_string(m_target.Pid()) + ")", 15s));
    std::this_thread::sleep_for(2s);
    const ProcessResult result = Save();
    EXPECT_THAT(result.standardError, Not(HasSubstr("unable to start capture")));

    const fs::path file = Output(".mp4");
    const std::vector<ProbedPacket> video = ProbePackets(file, "v");
    const std::vector<ProbedPacket> audio = ProbePackets(file, "a");
    ASSERT_GT(video.size(), 60u);
    ASSERT_GT(audio.size(), 60u);
    // Each capture continues where the previous one ended: no hole while the next one was being built.
    EXPECT_LT(LargestGap(video), 0.1);
    EXPECT_LT(LargestGap(audio), 0.1);
    EXPECT_EQ(DecodeErrors(file), "");
}

TEST_F(RecordingTest, ASilentTargetGivesSilentAudioAlongTheWholeVideo) {
    m_target.Create("main " + std::to_string(Width) + " " + std::to_string(Height) + " 50 50 0000FF");
    m_target.Command("animate main");
    StartRecorder();
    std::this_thread::sleep_for(5s);
    Save();

    ExpectWindowAndSoundStreams();
    const std::vector<float> audio = DecodeAudioMono(Output(".mp4"));
    const std::vector<ProbedPacket> video = ProbePackets(Output(".mp4"), "v");
    ASSERT_FALSE(video.empty());
    const double videoLength = video.back().time + video.back().duration - video.front().time;
    EXPECT_NEAR(double(audio.size()) / AudioRate, videoLength, 0.5);
    const float loudest = std::accumulate(audio.begin(), audio.end(), 0.0f,
                                          [](float peak, float s) { return std::max(peak, std::fabs(s)); });
    EXPECT_LT(loudest, 0.001f);
}

TEST_F(RecordingTest, WithoutASoundServerItStillRecordsWithSilentAudio) {
    m_target.Create("main " + std::to_string(Width) + " " + std::to_string(Height) + " 50 50 FF0000");
    ProcessOptions options;
    options.environment["PULSE_SERVER"] = "unix:" + (m_dir / "no-server").string();
    StartRecorder({}, options);
    std::this_thread::sleep_for(4s);
    const ProcessResult result = Save();
    const std::string warning = "WARN     no sound server is reachable";
    const std::size_t first = result.standardError.find(warning);
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(result.standardError.find(warning, first + 1), std::string::npos) << "said more than once";

    ExpectWindowAndSoundStreams();
    const std::vector<float> audio = DecodeAudioMono(Output(".mp4"));
    EXPECT_GT(audio.size(), std::size_t(2 * AudioRate));
    EXPECT_EQ(DecodeErrors(Output(".mp4")), "");
    ExpectImageOfWindow(255, 0, 0);
}

TEST_F(RecordingTest, ApplicationAudioHasOnlyTheTargetTreesSoundAsItComesAndGoesWithoutAGap) {
    m_duration = 20; // the whole run stays in the ring
    PlayOtherTone(1000);
    m_target.Create("main " + std::to_string(Width) + " " + std::to_string(Height) + " 50 50 00FFFF");
    m_target.Command("animate main");
    // Playing before the recording starts; it ends, a child of the target plays after a pause, then the
    // target plays again on a new stream.
    ASSERT_EQ(m_target.Command("tone 440"), "ok");
    StartRecorder({"--audio", "application"});
    EXPECT_TRUE(LogShows("audio: mode(application)"));
    std::this_thread::sleep_for(1500ms);
    ASSERT_EQ(m_target.Command("tone 0"), "ok");
    std::this_thread::sleep_for(1000ms);
    ASSERT_EQ(m_target.Command("child-tone 660"), "ok");
    std::this_thread::sleep_for(1500ms);
    ASSERT_EQ(m_target.Command("child-tone 0"), "ok");
    ASSERT_EQ(m_target.Command("tone 440"), "ok");
    std::this_thread::sleep_for(1500ms);
    Save();

    ExpectWindowAndSoundStreams();
    const fs::path file = Output(".mp4");
    const std::vector<ProbedPacket> video = ProbePackets(file, "v");
    const std::vector<ProbedPacket> audioPackets = ProbePackets(file, "a");
    ASSERT_FALSE(video.empty());
    ASSERT_FALSE(audioPackets.empty());
    EXPECT_LT(LargestGap(audioPackets), 0.1);
    const std::vector<float> audio = DecodeAudioMono(file);
    const double videoLength = video.back().time + video.back().duration - video.front().time;
    EXPECT_NEAR(double(audio.size()) / AudioRate, videoLength, 0.5);

    const std::vector<std::map<int, double>> levels = ToneLevels(audio, {440, 660, 1000});
    ASSERT_GT(levels.size(), 16u);
    for (std::size_t i = 0; i < levels.size(); ++i)
        EXPECT_LT(levels[i].at(1000), 0.02) << "the other program's tone at " << i / 4.0 << " s";
    EXPECT_GT(std::max(levels[0].at(440), levels[1].at(440)), 0.15)
        << "the tone playing at the start is missing";
    std::size_t pause = 0;
    while (pause < levels.size() && levels[pause].at(440) + levels[pause].at(660) > 0.02)
        ++pause;
    ASSERT_LT(pause, levels.size()) << "the target's tone did not stop";
    const std::size_t child = FirstHeard(levels, 660, pause);
    ASSERT_LT(child, levels.size()) << "the child's tone is missing";
    EXPECT_LT(FirstHeard(levels, 440, child), levels.size()) << "the target's tone did not come back";
}

TEST_F(RecordingTest, SystemAudioHasEveryProgramsSoundAndNoAudioGivesAVideoOnlyFile) {
    PlayOtherTone(1000);
    m_target.Create("main " + std::to_string(Width) + " " + std::to_string(Height) + " 50 50 FFFF00");
    m_target.Command("animate main");
    ASSERT_EQ(m_target.Command("tone 440"), "ok");
    StartRecorder({"--audio=system"});
    std::this_thread::sleep_for(3s);
    Save();
    ExpectWindowAndSoundStreams();
    const std::vector<std::map<int, double>> levels =
        ToneLevels(DecodeAudioMono(Output(".mp4")), {440, 1000});
    ASSERT_GT(levels.size(), 4u);
    // Both play throughout; a loaded machine may drop a moment of either.
    for (const int hz : {440, 1000}) {
        const auto heard =
            std::count_if(levels.begin(), levels.end(), [&](const auto& l) { return l.at(hz) > 0.15; });
        EXPECT_GT(std::size_t(heard), levels.size() / 2) << hz << " Hz";
    }

    // The same programs, no sound recorded: the start does not wait for audio, and the file has video only.
    fs::remove(Output(".mp4"));
    StartRecorder({"--audio", "none"});
    EXPECT_TRUE(LogShows("audio: mode(none)"));
    std::this_thread::sleep_for(3s);
    Save();
    const std::vector<ProbedStream> streams = ProbeStreams(Output(".mp4"));
    EXPECT_EQ(StreamOf(streams, "audio"), nullptr);
    const ProbedStream* videoStream = StreamOf(streams, "video");
    ASSERT_NE(videoStream, nullptr);
    EXPECT_EQ(videoStream->at("codec_name"), "h264");
    const std::vector<ProbedPacket> video = ProbePackets(Output(".mp4"), "v");
    ASSERT_GT(video.size(), 60u);
    EXPECT_TRUE(video.front().keyFrame);
    EXPECT_LT(LargestGap(video), 0.1);
    EXPECT_EQ(DecodeErrors(Output(".mp4")), "");
}

} // namespace
