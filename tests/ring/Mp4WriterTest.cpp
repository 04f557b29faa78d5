// Mp4Writer and CreatePacketSample: stream set-up, per-stream rebasing, the logged failure paths.

#include "ring/Mp4Writer.h"
#include "ring/PacketSample.h"

#include "Util/ComException.h"

#include "ExportTestRing.h"
#include "LogCapture.h"
#include "MediaProbe.h"
#include "TempDirectory.h"
#include "TestMediaTypes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const VideoSettings Small{"libx264", 320, 180, 60, 120, 0};

class Mp4WriterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(MFStartup(MF_VERSION), S_OK); }
    void TearDown() override { MFShutdown(); }

    static const SmallContent& Content() {
        static const SmallContent content;
        return content;
    }

    static ComPtr<IMFSample> Sample(const EncodedPacket& packet, LONGLONG time) {
        ComPtr<IMFSample> sample = CreatePacketSample(packet.data.data(), DWORD(packet.data.size()), time,
                                                      packet.duration, nullptr, 0);
        if (packet.cleanPoint)
            sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
        return sample;
    }

    static ComPtr<IMFMediaType> AacType() { return MakeAacType(48000, 2, {0x11, 0x90}); }

    TempDirectory m_folder;
};

TEST_F(Mp4WriterTest, PacketSamplesOwnACopyOfTheBytesAndTakeTheGivenAttributes) {
    std::vector<BYTE> bytes = {1, 2, 3, 4, 5};
    ComPtr<IMFAttributes> attributes;
    MFCreateAttributes(&attributes, 1);
    attributes->SetUINT32(MFSampleExtension_CleanPoint, 1);
    ComPtr<IMFSample> sample = CreatePacketSample(bytes.data(), 5, 1234, 333666, attributes.Get(), 0);
    ASSERT_TRUE(sample);
    bytes[0] = 99;

    LONGLONG value = 0;
    sample->GetSampleTime(&value);
    EXPECT_EQ(value, 1234);
    sample->GetSampleDuration(&value);
    EXPECT_EQ(value, 333666);
    EXPECT_EQ(MFGetAttributeUINT32(sample.Get(), MFSampleExtension_CleanPoint, 0), 1u);
    UINT32 count = 0;
    attributes->GetCount(&count);
    EXPECT_EQ(count, 1u);

    ComPtr<IMFMediaBuffer> buffer;
    ASSERT_EQ(sample->ConvertToContiguousBuffer(&buffer), S_OK);
    BYTE* data = nullptr;
    DWORD length = 0;
    buffer->Lock(&data, nullptr, &length);
    ASSERT_EQ(length, 5u);
    EXPECT_EQ(data[0], 1);
    buffer->Unlock();
}

TEST_F(Mp4WriterTest, EachStreamStartsAtItsOwnFirstSample) {
    const SmallContent& c = Content();
    const auto path = m_folder.Path("rebased.mp4");
    LogCapture log;
    {
        Mp4Writer writer(path.wstring(), MakeVideoType(Small).Get(), AacType().Get(), nullptr, nullptr,
                         nullptr, true);
        ASSERT_EQ(writer.BeginWriting(), S_OK);
        writer.WriteAudio(Sample(c.audio[0], 5'000'000).Get());
        for (int i = 0; i < 10; ++i)
            writer.WriteVideo(Sample(c.video[std::size_t(i)], 7'000'000 + i * 166666).Get());
        writer.WriteAudio(Sample(c.audio[1], 5'213'333).Get());
        writer.Finalize();
        writer.Finalize();
        // Nothing is written once finalized.
        writer.WriteVideo(Sample(c.video[10], 9'000'000).Get());
    }
    EXPECT_EQ(log.Count("ERROR"), 0u);
    const auto streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(std::stod(streams[0].at("start_time")), 0.0);
    EXPECT_EQ(std::stod(streams[1].at("start_time")), 0.0);
    EXPECT_EQ(streams[0].at("nb_read_packets"), "10");
    const auto audio = ProbePackets(path, "a");
    ASSERT_EQ(audio.size(), 2u);
    EXPECT_NEAR(audio[1].time, 0.0213333, 1e-4);
}

TEST_F(Mp4WriterTest, ARefusedAudioStreamIsLoggedAndItsSamplesStayOutOfTheVideo) {
    const SmallContent& c = Content();
    const auto path = m_folder.Path("video-only.mp4");
    ComPtr<IMFMediaType> pcm = AacType();
    pcm->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    LogCapture log;
    {
        Mp4Writer writer(path.wstring(), MakeVideoType(Small).Get(), pcm.Get(), nullptr, nullptr, nullptr,
                         true);
        writer.BeginWriting();
        for (int i = 0; i < 5; ++i) {
            writer.WriteVideo(Sample(c.video[std::size_t(i)], i * 166666).Get());
            writer.WriteAudio(Sample(c.audio[std::size_t(i)], i * 213333).Get());
        }
    }
    EXPECT_TRUE(log.Contains("ERROR m_sinkWriter->AddStream( m_sinkAudioType.Get(), &m_audioStreamId) failed "
                             "with error 0xc00d36b4"));
    EXPECT_EQ(log.Count("ERROR"), 1u);
    const auto streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("codec_name"), "h264");
    EXPECT_EQ(streams[0].at("nb_read_packets"), "5");
}

TEST_F(Mp4WriterTest, ARefusedVideoStreamLeavesNoStreamsAndNoFile) {
    const SmallContent& c = Content();
    const auto path = m_folder.Path("nothing.mp4");
    ComPtr<IMFMediaType> nv12 = MakeVideoType(Small);
    nv12->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
    LogCapture log;
    {
        Mp4Writer writer(path.wstring(), nv12.Get(), AacType().Get(), nullptr, nullptr, nullptr, true);
        writer.BeginWriting();
        writer.WriteVideo(Sample(c.video[0], 0).Get());
        writer.WriteAudio(Sample(c.audio[0], 0).Get());
    }
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "ERROR m_sinkWriter->AddStream( m_sinkVideoType.Get(), &m_videoStreamId) failed with "
                        "error 0xc00d36b4");
    EXPECT_EQ(lines[1], "ERROR m_sinkWriter->BeginWriting() failed with error 0xc00d36b2");
    EXPECT_EQ(lines[2], "ERROR m_sinkWriter->Finalize() failed with error 0xc00d36b2");
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(Mp4WriterTest, AnOverrideTypeReplacesTheGivenOne) {
    const SmallContent& c = Content();
    const auto path = m_folder.Path("override.mp4");
    ComPtr<IMFMediaType> unusable = MakeVideoType(Small);
    unusable->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
    {
        Mp4Writer writer(path.wstring(), unusable.Get(), nullptr, MakeVideoType(Small).Get(), nullptr,
                         nullptr, false);
        ASSERT_EQ(writer.BeginWriting(), S_OK);
        writer.WriteVideo(Sample(c.video[0], 0).Get());
    }
    const auto streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("codec_name"), "h264");
}

TEST_F(Mp4WriterTest, PerSampleFailuresAreLoggedAndTheNextSampleStillGoesIn) {
    const SmallContent& c = Content();
    const auto path = m_folder.Path("partial.mp4");
    LogCapture log;
    {
        Mp4Writer writer(path.wstring(), MakeVideoType(Small).Get(), nullptr, nullptr, nullptr, nullptr,
                         true);
        writer.BeginWriting();
        writer.WriteVideo(Sample(c.video[0], 0).Get());
        ComPtr<IMFSample> untimed;
        MFCreateSample(&untimed);
        writer.WriteVideo(untimed.Get());
        ComPtr<IMFSample> empty = CreatePacketSample(nullptr, 0, 166666, 166666, nullptr, 0);
        writer.WriteVideo(empty.Get());
        writer.WriteVideo(Sample(c.video[1], 166666).Get());
    }
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "ERROR sample->GetSampleTime( &timestamp ) failed with error 0xc00d36c8");
    EXPECT_EQ(lines[1],
              "ERROR m_sinkWriter->WriteSample( m_videoStreamId, sample ) failed with error 0x80070057");
    const auto streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("nb_read_packets"), "2");
}

TEST_F(Mp4WriterTest, CreationFailureThrowsWithTheCallText) {
    try {
        Mp4Writer writer(m_folder.Wide("missing/clip.mp4"), MakeVideoType(Small).Get(), nullptr, nullptr,
                         nullptr, nullptr, true);
        FAIL() << "no exception";
    } catch (const ComException& e) {
        EXPECT_STREQ(e.what(), "MFCreateSinkWriterFromURL(filename.c_str(), nullptr, attributes.Get(), "
                               "sinkWriter.GetAddressOf()) failed");
        EXPECT_EQ(e.Error(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    }
}

} // namespace
