// The real recorder against a real X11 program under Xvfb with a window manager and a private PulseAudio
// server: what lands in NAME.mp4 and NAME.jpg, with each audio mode.

#include "FakeGpuSysfs.h"
#include "MediaProbe.h"
#include "MetadataSchema.h"
#include "ProcessRunner.h"
#include "TempDirectory.h"
#include "TestWindowProcess.h"
#include "TransformTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

// The size of every decoded picture, "W,H" as ffprobe reports it (lines of side data left out).
std::vector<std::string> PictureSizes(const fs::path& file) {
    const std::string out =
        RunProcess({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                    "frame=width,height", "-of", "compact=p=0", file.string()})
            .standardOutput;
    std::vector<std::string> sizes;
    for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
        int width = 0;
        int height = 0;
        if (std::sscanf(out.c_str() + at, "width=%d|height=%d", &width, &height) == 2)
            sizes.push_back(std::to_string(width) + "," + std::to_string(height));
    }
    return sizes;
}

// Every picture of the file has the size its header gives.
void ExpectEveryPictureAtTheHeaderSize(const fs::path& file, std::size_t pictures) {
    const std::vector<std::string> sizes = PictureSizes(file);
    EXPECT_EQ(sizes.size(), pictures);
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), std::to_string(Width) + "," + std::to_string(Height)),
              std::ptrdiff_t(sizes.size()));
}

// How long the pictures that match stand in the video: a still window is repeated only now and then, so
// time rather than the number of pictures tells how much of the recording shows something.
template <typename Predicate>
double ShownFor(const std::vector<YuvFrame>& frames, const std::vector<ProbedPacket>& video,
                Predicate matches) {
    double seconds = 0;
    for (std::size_t i = 0; i < frames.size() && i < video.size(); ++i)
        if (matches(frames[i]))
            seconds += video[i].duration;
    return seconds;
}

double Length(const std::vector<ProbedPacket>& packets) {
    return packets.empty() ? 0 : packets.back().time + packets.back().duration - packets.front().time;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

enum class Colour { Red, Green, Blue, White, Black, Other };

// The colour of a decoded pixel, among those the test window draws (BT.601, limited range).
Colour ColourAt(const YuvFrame& frame, int x, int y) {
    const int luma = frame.y[std::size_t(y) * frame.width + x];
    const std::size_t chroma = std::size_t(y / 2) * (frame.width / 2) + x / 2;
    const int u = frame.u[chroma];
    const int v = frame.v[chroma];
    struct Reference {
        Colour colour;
        int y, u, v;
    };
    for (const Reference& r : {Reference{Colour::Red, 81, 90, 240}, Reference{Colour::Green, 145, 54, 34},
                               Reference{Colour::Blue, 41, 240, 110}, Reference{Colour::White, 235, 128, 128},
                               Reference{Colour::Black, 16, 128, 128}})
        if (std::abs(luma - r.y) < 24 && std::abs(u - r.u) < 24 && std::abs(v - r.v) < 24)
            return r.colour;
    return Colour::Other;
}

// The window's four quadrants (red, green / blue, white) drawn at 1:1 with their top-left corner at (x, y)
// and the size w x h: each quadrant's middle, and the pixels either side of the inner edges.
bool ShowsQuadrantsAt(const YuvFrame& frame, int x, int y, int w, int h) {
    const int cx = x + w / 2;
    const int cy = y + h / 2;
    return ColourAt(frame, x + w / 4, y + h / 4) == Colour::Red &&
           ColourAt(frame, x + 3 * w / 4, y + h / 4) == Colour::Green &&
           ColourAt(frame, x + w / 4, y + 3 * h / 4) == Colour::Blue &&
           ColourAt(frame, x + 3 * w / 4, y + 3 * h / 4) == Colour::White &&
           ColourAt(frame, cx - 3, y + h / 4) == Colour::Red &&
           ColourAt(frame, cx + 2, y + h / 4) == Colour::Green &&
           ColourAt(frame, x + w / 4, cy - 3) == Colour::Red &&
           ColourAt(frame, x + w / 4, cy + 2) == Colour::Blue;
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

    // On a GPU that `sysfs` describes, with its vendor's runtimes found first (the fake ones, which code on
    // the processor, as the environment of `options` says), --custom-codecs records the window through the
    // codec library's encoder transform `encoder`, which makes `codec`.
    void RecordTheWindowThroughTheTransform(const FakeGpuSysfs& sysfs, ProcessOptions options,
                                            const std::string& encoder, const std::string& codec) {
        options.environment["PYX_TEST_SYSFS_ROOT"] = sysfs.Root();
        m_target.Create("main " + std::to_string(Width) + " " + std::to_string(Height) + " 50 50 00FF00");
        m_target.Command("quadrants main");
        StartRecorder({"--custom-codecs"}, options);
        std::this_thread::sleep_for(4s);
        const ProcessResult result = Save();
        EXPECT_THAT(result.standardError, Not(HasSubstr("fake "))) << "the transform misused its runtime";

        const fs::path file = Output(".mp4");
        const std::vector<ProbedStream> streams = ProbeStreams(file);
        const ProbedStream* video = StreamOf(streams, "video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->at("codec_name"), codec) << result.standardError;
        EXPECT_EQ(ReadMetadata(Output(".json"))["video_encoder"],
                  nlohmann::json({{"name", encoder}, {"hardware", true}}));
        const std::vector<ProbedPacket> packets = ProbePackets(file, "v");
        // The window is still, so it is repeated with every key frame for the whole recording.
        ASSERT_GE(packets.size(), 3u);
        EXPECT_GE(packets.back().time + packets.back().duration - packets.front().time, 3.0);
        EXPECT_TRUE(packets.front().keyFrame);
        EXPECT_EQ(DecodeErrors(file), "");
        ExpectEveryPictureAtTheHeaderSize(file, packets.size());
        const std::vector<YuvFrame> frames = DecodeEveryNthFrame(file, Width, Height, 30);
        ASSERT_FALSE(frames.empty());
        for (const YuvFrame& frame : frames)
            EXPECT_TRUE(ShowsQuadrantsAt(frame, 0, 0, Width, Height));
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

// The window stays still for longer than two ring durations, then changes twice, each time after a still
// stretch: an unchanging window costs few frames, yet it is in every picture, key frames keep coming and each
// change lands at its time.
TEST_F(RecordingTest, RecordsTheWindowAndItsToneInStepForOneToTwoRingDurations) {
    using Clock = std::chrono::steady_clock;
    m_target.Create("main " + std::to_string(Width) + " " + std::to_string(Height) + " 50 50 000000");
    StartRecorder();
    std::this_thread::sleep_for(6s);
    // Only writing a file needs the muxing library; a recorder that has not saved yet does not carry it.
    std::ifstream mapsFile("/proc/" + std::to_string(m_recorder->Pid()) + "/maps");
    const std::string maps{std::istreambuf_iterator<char>(mapsFile), std::istreambuf_iterator<char>()};
    ASSERT_NE(maps.find("libavcodec"), std::string::npos);
    EXPECT_EQ(maps.find("libavformat"), std::string::npos);
    // Nor does it hold huge pages that its encoder asks for and only partly uses.
    std::ifstream statusFile("/proc/" + std::to_string(m_recorder->Pid()) + "/status");
    const std::string status{std::istreambuf_iterator<char>(statusFile), std::istreambuf_iterator<char>()};
    EXPECT_NE(status.find("THP_enabled:\t0"), std::string::npos);
    // The window turns white as the tone starts: both must land at the same place of the timeline.
    const Clock::time_point whiteAsked = Clock::now();
    ASSERT_EQ(m_target.Command("color main FFFFFF"), "ok");
    const Clock::time_point whiteDone = Clock::now();
    ASSERT_EQ(m_target.Command("tone 1000"), "ok");
    // Both changes stay within the last ring duration before the save, so the ring keeps the white one's
    // start.
    std::this_thread::sleep_for(1500ms);
    const Clock::time_point redAsked = Clock::now();
    ASSERT_EQ(m_target.Command("color main FF0000"), "ok");
    const Clock::time_point redDone = Clock::now();
    std::this_thread::sleep_for(500ms);
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

    // The window in every picture: black (unless the ring has already dropped that stretch, as on a machine
    // slow to start the capture), then white, then red; a still window is repeated, not lost.
    std::vector<Colour> shown;
    for (const YuvFrame& frame : frames) {
        const Colour colour = ColourAt(frame, Width / 2, Height / 2);
        if (shown.empty() || shown.back() != colour)
            shown.push_back(colour);
    }
    if (!shown.empty() && shown.front() == Colour::Black)
        shown.erase(shown.begin());
    EXPECT_EQ(shown, (std::vector<Colour>{Colour::White, Colour::Red})) << "colours shown: " << [&] {
        std::string list;
        for (const Colour colour : shown)
            list += std::to_string(static_cast<int>(colour)) + " ";
        for (const ProbedPacket& packet : video)
            list += "\n" + std::to_string(packet.time) + (packet.keyFrame ? " key" : "");
        return list;
    }();
    EXPECT_LT(video.size(), std::size_t(length * 30)) << "a still window costs fewer frames than the rate";
    // Each change lands at its time, within one frame period, after a still stretch: the second one's
    // distance from the first is right within the two changes' periods.
    const auto red = std::find_if(frames.begin(), frames.end(), [](const YuvFrame& f) {
        return ColourAt(f, Width / 2, Height / 2) == Colour::Red;
    });
    ASSERT_NE(red, frames.end());
    const double redStart = video[std::size_t(red - frames.begin())].time;
    const auto seconds = [](Clock::duration d) {
        return std::chrono::duration<double>(d).count();
    };
    constexpr double FramePeriod = 1.0 / 60;
    EXPECT_GE(redStart - pictureStart, seconds(redAsked - whiteDone) - 2 * FramePeriod);
    EXPECT_LE(redStart - pictureStart, seconds(redDone - whiteAsked) + 2 * FramePeriod);
    // Key frames at most the GOP apart, and no picture stands so long that the timeline has a hole.
    double lastKey = video.front().time;
    for (std::size_t i = 1; i < video.size(); ++i) {
        EXPECT_LE(video[i].time - video[i - 1].time, Gop + FramePeriod) << "picture " << i;
        if (!video[i].keyFrame)
            continue;
        EXPECT_LE(video[i].time - lastKey, Gop + FramePeriod) << "picture " << i;
        lastKey = video[i].time;
    }
    EXPECT_LE(video.back().time - lastKey, Gop + FramePeriod);
    EXPECT_LT(LargestGap(video), 0.1);

    ExpectImageOfWindow(255, 0, 0);
}

TEST_F(RecordingTest, MinimiseAndRestoreKeepTheTimelineContinuousAndTheFrameSizeOne) {
    m_target.Create("main " + std::to_string(Width) + " " + std::to_string(Height) + " 50 50 00FF00");
    m_target.Command("quadrants main");
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
    ASSERT_GT(Length(video), 3.0);
    ASSERT_GT(audio.size(), 60u);
    // Each capture continues where the previous one ended: no hole while the next one was being built.
    EXPECT_LT(LargestGap(video), 0.1);
    EXPECT_LT(LargestGap(audio), 0.1);
    EXPECT_EQ(DecodeErrors(file), "");

    // The monitor in between is fitted into the window's frame size: every picture has the header's size,
    // and the window before and after shows at 1:1.
    ExpectWindowAndSoundStreams();
    ExpectEveryPictureAtTheHeaderSize(file, video.size());
    const std::vector<YuvFrame> frames = DecodeEveryNthFrame(file, Width, Height, 1);
    ASSERT_EQ(frames.size(), video.size());
    EXPECT_TRUE(ShowsQuadrantsAt(frames.front(), 0, 0, Width, Height));
    EXPECT_TRUE(ShowsQuadrantsAt(frames.back(), 0, 0, Width, Height));
    EXPECT_GT(
        ShownFor(frames, video, [](const YuvFrame& f) { return !ShowsQuadrantsAt(f, 0, 0, Width, Height); }),
        0.5)
        << "the monitor is missing";
}

TEST_F(RecordingTest, AResizedWindowIsFollowedWholeAtTheRecordingsFrameSize) {
    m_target.Create("main " + std::to_string(Width) + " " + std::to_string(Height) + " 50 50 000000");
    m_target.Command("quadrants main");
    ASSERT_EQ(m_target.Command("tone 440"), "ok");
    StartRecorder();
    std::this_thread::sleep_for(1500ms);
    // Larger (fitted, scaled down), then smaller (at 1:1, centred on black): each restarts the capture.
    const auto resize = [&](int w, int h, std::size_t restart) {
        m_target.Command("move main 50 50 " + std::to_string(w) + " " + std::to_string(h));
        m_target.Command("quadrants main");
        ASSERT_TRUE(Eventually(
            [&] { return Occurrences(m_recorder->StandardError(), "capture size changed") >= restart; }, 10s))
            << m_recorder->StandardError();
        std::this_thread::sleep_for(1500ms);
    };
    resize(2 * Width, 2 * Height, 1);
    resize(200, 150, 2);
    const ProcessResult result = Save();

    const fs::path file = Output(".mp4");
    ExpectWindowAndSoundStreams();
    const std::vector<ProbedPacket> video = ProbePackets(file, "v");
    const std::vector<ProbedPacket> audio = ProbePackets(file, "a");
    for (auto& p : video)
        fprintf(stderr, "DBG v %.3f %.3f %d\n", p.time, p.duration, p.keyFrame);
    fprintf(stderr, "DBG a %.3f .. %.3f\n", audio.front().time, audio.back().time);
    fprintf(stderr, "%s\n", result.standardError.c_str());
    ASSERT_GT(Length(video), 3.0);
    EXPECT_LT(LargestGap(video), 0.1);
    EXPECT_LT(LargestGap(audio), 0.1);
    for (std::size_t i = 1; i < video.size(); ++i)
        EXPECT_GT(video[i].time, video[i - 1].time) << "packet " << i;
    EXPECT_EQ(DecodeErrors(file), "");
    ExpectEveryPictureAtTheHeaderSize(file, video.size());

    // Every picture shows the whole window: filling the frame (at first, and scaled down while larger), or
    // at its own size in the middle; only the moment the window itself redraws after a resize may differ.
    const std::vector<YuvFrame> frames = DecodeEveryNthFrame(file, Width, Height, 1);
    ASSERT_EQ(frames.size(), video.size());
    // The smaller window at 1:1: its edges two pixels inside black ones, at (60, 44) and (259, 193).
    const auto isCentred = [](const YuvFrame& frame) {
        return ShowsQuadrantsAt(frame, 60, 44, 200, 150) && ColourAt(frame, 57, 100) == Colour::Black &&
               ColourAt(frame, 62, 100) == Colour::Red && ColourAt(frame, 100, 41) == Colour::Black &&
               ColourAt(frame, 100, 46) == Colour::Red && ColourAt(frame, 262, 180) == Colour::Black &&
               ColourAt(frame, 257, 180) == Colour::White && ColourAt(frame, 240, 196) == Colour::Black;
    };
    const auto isFilling = [](const YuvFrame& frame) {
        return ShowsQuadrantsAt(frame, 0, 0, Width, Height) && ColourAt(frame, 4, 4) == Colour::Red &&
               ColourAt(frame, Width - 4, Height - 4) == Colour::White;
    };
    const double filling = ShownFor(frames, video, isFilling);
    const double centred = ShownFor(frames, video, isCentred);
    EXPECT_GT(filling, 1.5);
    EXPECT_GT(centred, 0.8) << result.standardError;
    // A picture caught mid-redraw stands until the next change, which its redraw brings.
    EXPECT_LE(Length(video) - filling - centred, 0.5);
    EXPECT_TRUE(isCentred(frames.back()));
}

TEST_F(RecordingTest, AVideoEncoderThatFailsIsLoggedAndReplacedAndTheSaveIsPlayable) {
    m_target.Create("main " + std::to_string(Width) + " " + std::to_string(Height) + " 50 50 000000");
    // Moving, so that the first encoder soon reaches the picture it fails at.
    m_target.Command("animate main");
    const char* binary = std::getenv("PYX_VIDEO_FAILING_ENCODER_BINARY");
    ASSERT_NE(binary, nullptr);
    m_recorder = std::make_unique<ChildProcess>(std::vector<std::string>{
        binary, "--pid=" + std::to_string(m_target.Pid()), "--file", (m_dir / "report").string()});
    ASSERT_TRUE(LogShows("ERROR    capture failed: hwnd(")) << m_recorder->StandardError();
    m_target.Command("quadrants main");
    std::this_thread::sleep_for(2s);
    const ProcessResult result = Save();
    EXPECT_THAT(
        result.standardError,
        HasSubstr("ERROR    Capture session encountered an error and cannot continue (type=1/80004005)"));
    EXPECT_THAT(result.standardError, HasSubstr(", restart in 200ms\n"));

    // What the first capture encoded before its failure and what its replacement recorded, in one file.
    ExpectWindowAndSoundStreams();
    const fs::path file = Output(".mp4");
    const std::vector<ProbedPacket> video = ProbePackets(file, "v");
    // The moving window's pictures, then the replacement's, which begins with a key frame of its own.
    ASSERT_GT(video.size(), 60u);
    EXPECT_GT(Length(video), 2.5);
    EXPECT_GE(std::count_if(video.begin(), video.end(), [](const ProbedPacket& p) { return p.keyFrame; }), 2);
    EXPECT_TRUE(video.front().keyFrame);
    for (std::size_t i = 1; i < video.size(); ++i)
        EXPECT_GT(video[i].time, video[i - 1].time) << "packet " << i;
    EXPECT_EQ(DecodeErrors(file), "");
    ExpectEveryPictureAtTheHeaderSize(file, video.size());
    const std::vector<YuvFrame> frames = DecodeEveryNthFrame(file, Width, Height, 1);
    ASSERT_FALSE(frames.empty());
    EXPECT_TRUE(ShowsQuadrantsAt(frames.back(), 0, 0, Width, Height));
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

// The fake runtimes' folder for the library path variable `path`, and more of the environment.
ProcessOptions FakeRuntimes(const char* path, const char* folder,
                            std::map<std::string, std::optional<std::string>> environment = {}) {
    environment[path] = std::string(PYX_FAKE_RUNTIMES_DIR "/") + folder;
    ProcessOptions options;
    options.environment = std::move(environment);
    return options;
}

// NVIDIA's only offered encoder makes HEVC, so the recording is HEVC where the platform's encoders make
// H.264.
TEST_F(RecordingTest, TheNvidiaEncoderTransformRecordsTheWindowOverItsRuntime) {
    RecordTheWindowThroughTheTransform(FakeGpuSysfs(), FakeRuntimes("LD_LIBRARY_PATH", "nvidia"),
                                       "Corvane HEVC Encoder for Nvidia", "hevc");
}

// An AMD GPU whose runtime has no H.264 encoder: the H.264 transform refuses it, and the recording is HEVC
// through the AMD HEVC transform, from NV12 frames.
TEST_F(RecordingTest, TheAmdEncoderTransformRecordsTheWindowOverItsRuntime) {
    RecordTheWindowThroughTheTransform(
        FakeGpuSysfs(0x1002, "amdgpu", "6.8.0"),
        FakeRuntimes("LD_LIBRARY_PATH", "amd", {{"PYX_FAKE_AMF_WITHOUT_H264_ENCODER", "1"}}),
        "Corvane HEVC Encoder for AMD", "hevc");
}

// Intel's implementation is found by Debian's oneVPL dispatcher, whose priority folder comes first.
TEST_F(RecordingTest, TheIntelEncoderTransformRecordsTheWindowOverItsRuntime) {
    RecordTheWindowThroughTheTransform(FakeGpuSysfs(0x8086, "i915"),
                                       FakeRuntimes("ONEVPL_PRIORITY_PATH", "intel-runtime"),
                                       "Corvane H.264 Encoder for Intel", "h264");
}
