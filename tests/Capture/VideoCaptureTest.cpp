// The capture session on a real window with real sound: output types, what a run leaves in the ring, the
// retries of a construction that keeps failing, and the encoded size chosen for a captured size.

#include "Capture/VideoCapture.h"
#include "FailingEncoder.h"
#include "LogCapture.h"
#include "RingTestSupport.h"
#include "TempDirectory.h"
#include "TestWindowProcess.h"
#include "Util/Logger.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;

UINT32 Attribute(IMFMediaType* type, REFGUID key) { return MFGetAttributeUINT32(type, key, 0); }

GUID Subtype(IMFMediaType* type) {
    GUID subtype = GUID_NULL;
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    return subtype;
}

} // namespace

TEST(OutputSizeTest, KeepsSizesWithinTheBoundAndScalesLargerOnesDownWithTheirAspect) {
    const CaptureOptions options;
    struct Case {
        UINT32 width, height, expectedWidth, expectedHeight;
    };
    for (const Case& c : {Case{320, 240, 320, 240}, Case{301, 201, 300, 200}, Case{3840, 2160, 3840, 2160},
                          Case{7680, 4320, 3840, 2160}, Case{5000, 1000, 3840, 768},
                          Case{1000, 5000, 432, 2160}, Case{1, 1, 2, 2}}) {
        const OutputSize size = ChooseOutputSize(c.width, c.height, options);
        EXPECT_EQ(size.width, c.expectedWidth) << c.width << "x" << c.height;
        EXPECT_EQ(size.height, c.expectedHeight) << c.width << "x" << c.height;
    }
    CaptureOptions keep;
    keep.keepCaptureSize = 1;
    const OutputSize kept = ChooseOutputSize(5000, 3001, keep);
    EXPECT_EQ(kept.width, 5000u);
    EXPECT_EQ(kept.height, 3000u);
}

TEST(VideoCapturePipelineDeathTest, ABitrateShareOutsideZeroToOneIsAProgrammingError) {
    for (float share : {0.0f, 1.5f})
        EXPECT_DEATH(VideoCapturePipeline(CaptureOptions(), {}, 0, share),
                     "ASSERTION FAILED: share > 0.0f && share <= 1.0f");
}

class VideoCaptureTest : public ::testing::Test {
protected:
    LogCapture m_log;
    TempDirectory m_folder;
    TestWindowProcess m_target;
};

TEST_F(VideoCaptureTest, ConstructionThatKeepsFailingIsTriedThreeTimes200MillisecondsApart) {
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_THROW(VideoCapture(nullptr, reinterpret_cast<HWND>(std::uintptr_t{0x7ffffff0})), std::exception);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 400ms);
    const auto lines = m_log.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("WARN capture pipeline construction failed (attempt ", 0) ==
                                       0;
                            }),
              2);
}

TEST_F(VideoCaptureTest, ARunWritesKeyFrameLedVideoAndAudioAtTheWindowSize) {
    const std::uint32_t window = m_target.Create("main 256 144 40 40 336699");
    m_target.Command("animate main");
    ASSERT_EQ(m_target.Command("tone 600"), "ok");
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(m_folder.Wide("ring"), 60));
    std::uint32_t end = 0;
    {
        VideoCapture capture(nullptr, reinterpret_cast<HWND>(std::uintptr_t{window}));
        EXPECT_TRUE(m_log.Contains("INFO video frame size: 3840x2160"));
        EXPECT_TRUE(m_log.Contains("INFO Creating capture source using WinRT"));
        IMFMediaType* video = capture.VideoOutputType().Get();
        EXPECT_EQ(Subtype(video), MFVideoFormat_H264);
        UINT32 width = 0;
        UINT32 height = 0;
        MFGetAttributeSize(video, MF_MT_FRAME_SIZE, &width, &height);
        EXPECT_EQ(width, 256u);
        EXPECT_EQ(height, 144u);
        EXPECT_EQ(Attribute(video, MF_MT_MPEG2_PROFILE), UINT32(eAVEncH264VProfile_High));
        IMFMediaType* audio = capture.AudioOutputType().Get();
        EXPECT_EQ(Subtype(audio), MFAudioFormat_AAC);
        EXPECT_EQ(Attribute(audio, MF_MT_AUDIO_SAMPLES_PER_SECOND), 48000u);
        EXPECT_EQ(Attribute(audio, MF_MT_AUDIO_NUM_CHANNELS), 2u);
        EXPECT_NE(capture.Device(), nullptr);

        int observed = 0;
        capture.SetFrameObserver([&](ID3D11Device* device, ID3D11Texture2D* texture) {
            if (device != nullptr && texture != nullptr)
                ++observed;
        });
        capture.Start(&ring, 900000);
        std::this_thread::sleep_for(2500ms);
        capture.Stop(&end);
        EXPECT_GT(observed, 60);
    }
    ring.Close();
    RingFile reader;
    ASSERT_FALSE(reader.OpenForRead(m_folder.Wide("ring")));
    const std::vector<Record> records = ReadAll(reader);
    ASSERT_GT(records.size(), 100u);
    // The first record is a key frame moved to the base time; key frames follow every 120 frames or two
    // seconds, whichever comes first.
    EXPECT_EQ(records.front().header.flags, 0x10u);
    EXPECT_EQ(records.front().header.timestamp, 900000u);
    std::vector<std::size_t> keyFrames;
    std::vector<std::uint32_t> keyTimes;
    std::size_t frames = 0;
    bool audio = false;
    std::uint32_t latest = 0;
    for (const Record& record : records) {
        latest = std::max(latest, record.header.timestamp + record.header.duration);
        if (record.header.flags & 0x08) {
            audio = true;
            continue;
        }
        if (record.header.flags & 0x10) {
            keyFrames.push_back(frames);
            keyTimes.push_back(record.header.timestamp);
        }
        ++frames;
    }
    EXPECT_TRUE(audio);
    ASSERT_GE(frames, 121u);
    EXPECT_EQ(keyFrames.front(), 0u);
    ASSERT_GE(keyFrames.size(), 2u);
    EXPECT_LE(keyFrames[1], 120u);
    // 90 kHz ticks; the first recorded key frame may be one asked for after the capture's own first one.
    EXPECT_LE(keyTimes[1] - keyTimes[0], 180000u + 1500u);
    EXPECT_GT(keyTimes[1] - keyTimes[0], 90000u);
    // The last picture stands until the stop, a moment after the last packet.
    EXPECT_GE(end, latest);
    EXPECT_LT(end - latest, 9000u);
}

TEST_F(VideoCaptureTest, AVideoBranchThatFailsMidwayInterruptsTheCaptureAfterWhatItWrote) {
    const std::uint32_t window = m_target.Create("main 256 144 40 40 336699");
    m_target.Command("animate main");
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(m_folder.Wide("ring"), 60));
    {
        VideoCapture capture(nullptr, reinterpret_cast<HWND>(std::uintptr_t{window}), {}, {},
                             FailingEncoderAt(90));
        EXPECT_EQ(capture.Interruption(), CaptureInterruption::None);
        capture.Start(&ring, 0);
        const auto failed = [&] {
            return capture.Interruption() == CaptureInterruption::Failed;
        };
        ASSERT_TRUE(WaitFor(failed, 10s));
        capture.Stop(nullptr);
    }
    ring.Close();
    EXPECT_TRUE(
        m_log.Contains("ERROR Capture session encountered an error and cannot continue (type=1/80004005)"));
    RingFile reader;
    ASSERT_FALSE(reader.OpenForRead(m_folder.Wide("ring")));
    std::size_t frames = 0;
    for (const Record& record : ReadAll(reader))
        frames += (record.header.flags & 0x08) == 0 ? 1 : 0;
    // Up to the failing 91st frame, less what the start gate held back.
    EXPECT_GT(frames, 10u);
    EXPECT_LE(frames, 90u);
}

TEST_F(VideoCaptureTest, ACaptureNeverStartedIsReleasedWithoutTouchingTheRing) {
    const std::uint32_t window = m_target.Create("main 128 128 40 40 FFFFFF");
    {
        VideoCapture capture(nullptr, reinterpret_cast<HWND>(std::uintptr_t{window}));
        std::uint32_t end = 1;
        capture.Stop(&end);
        EXPECT_EQ(end, 0u);
    }
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("ring0")));
}
