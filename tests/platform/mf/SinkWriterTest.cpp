// IMFSinkWriter writing MP4 files, checked with ffprobe.

#include "platform/mf/MediaTypeFormat.h"
#include "ring/KeyFrameProbe.h"
#include <mfapi.h>

#include "MediaProbe.h"
#include "TempDirectory.h"
#include "TestEncoders.h"
#include "TestMediaTypes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace {

const VideoSettings SmallH264{"libx264", 320, 180, 60, 120, 0};
const VideoSettings SmallHevc{"libx265", 320, 180, 60, 120, 0};
const AudioSettings Aac{};

ComPtr<IMFSample> SampleOf(const EncodedPacket& packet) {
    ComPtr<IMFMediaBuffer> buffer;
    EXPECT_EQ(MFCreateMemoryBuffer(DWORD(packet.data.size()), &buffer), S_OK);
    BYTE* data = nullptr;
    buffer->Lock(&data, nullptr, nullptr);
    std::memcpy(data, packet.data.data(), packet.data.size());
    buffer->Unlock();
    buffer->SetCurrentLength(DWORD(packet.data.size()));
    ComPtr<IMFSample> sample;
    EXPECT_EQ(MFCreateSample(&sample), S_OK);
    sample->AddBuffer(buffer.Get());
    sample->SetSampleTime(packet.time);
    sample->SetSampleDuration(packet.duration);
    if (packet.cleanPoint)
        sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    return sample;
}

ComPtr<IMFSinkWriter> NewWriter(const std::filesystem::path& path) {
    ComPtr<IMFSinkWriter> writer;
    EXPECT_EQ(MFCreateSinkWriterFromURL(path.wstring().c_str(), nullptr, nullptr, &writer), S_OK);
    return writer;
}

std::vector<std::uint8_t> FirstKeyFrameParameterSets(const std::vector<EncodedPacket>& packets) {
    for (const EncodedPacket& packet : packets) {
        if (packet.kind != EncodedPacket::Video || !packet.cleanPoint)
            continue;
        if (auto info = ProbeKeyFrame(packet.data))
            return info->parameterSets;
    }
    return {};
}

struct Written {
    int video = 0;
    int audio = 0;
};

Written WriteAll(IMFSinkWriter* writer, DWORD videoStream, DWORD audioStream,
                 const std::vector<EncodedPacket>& packets) {
    Written written;
    for (const EncodedPacket& packet : packets) {
        const bool video = packet.kind == EncodedPacket::Video;
        EXPECT_EQ(writer->WriteSample(video ? videoStream : audioStream, SampleOf(packet).Get()), S_OK);
        ++(video ? written.video : written.audio);
    }
    return written;
}

class SinkWriter : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(MFStartup(MF_VERSION), S_OK); }
    void TearDown() override { MFShutdown(); }
    TempDirectory m_folder;
};

TEST_F(SinkWriter, WritesH264AndAacIntoAnMp4WithItsIndexAtTheFront) {
    const auto packets = EncodeCapture(SmallH264, Aac, 3.0);
    AudioEncoder configSource(Aac);
    const auto path = m_folder.Path("clip.mp4");
    ComPtr<IMFSinkWriter> writer = NewWriter(path);
    DWORD video = 9;
    DWORD audio = 9;
    // The video type carries no sequence header: the writer takes the parameter sets from the first key
    // frame.
    ASSERT_EQ(writer->AddStream(MakeVideoType(SmallH264).Get(), &video), S_OK);
    ASSERT_EQ(writer->AddStream(MakeAacType(48000, 2, configSource.CodecConfig()).Get(), &audio), S_OK);
    EXPECT_EQ(video, 0u);
    EXPECT_EQ(audio, 1u);
    ASSERT_EQ(writer->BeginWriting(), S_OK);
    const Written written = WriteAll(writer.Get(), video, audio, packets);
    ASSERT_EQ(writer->Finalize(), S_OK);

    const auto streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), "h264");
    EXPECT_EQ(streams[0].at("width"), "320");
    EXPECT_EQ(streams[0].at("height"), "180");
    EXPECT_EQ(streams[0].at("r_frame_rate"), "60/1");
    EXPECT_EQ(std::stoi(streams[0].at("nb_read_packets")), written.video);
    EXPECT_EQ(streams[1].at("codec_name"), "aac");
    EXPECT_EQ(streams[1].at("sample_rate"), "48000");
    EXPECT_EQ(streams[1].at("channels"), "2");
    EXPECT_EQ(std::stoi(streams[1].at("nb_read_packets")), written.audio);
    const auto videoPackets = ProbePackets(path, "v");
    ASSERT_FALSE(videoPackets.empty());
    EXPECT_TRUE(videoPackets.front().keyFrame);
    EXPECT_TRUE(videoPackets[120].keyFrame);
    EXPECT_FALSE(videoPackets[1].keyFrame);

    const long long moov = FindTopLevelBox(path, "moov");
    const long long mdat = FindTopLevelBox(path, "mdat");
    ASSERT_GE(moov, 0);
    ASSERT_GE(mdat, 0);
    EXPECT_LT(moov, mdat);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(SinkWriter, WritesHevcWithOrWithoutASequenceHeaderAndFlacAudio) {
    AudioSettings flac;
    flac.encoder = "flac";
    const auto packets = EncodeCapture(SmallHevc, flac, 1.0);
    AudioEncoder configSource(flac);
    for (const bool withHeader : {true, false}) {
        const auto path = m_folder.Path(withHeader ? "with.mp4" : "without.mp4");
        ComPtr<IMFSinkWriter> writer = NewWriter(path);
        const auto header = withHeader ? FirstKeyFrameParameterSets(packets) : std::vector<std::uint8_t>{};
        DWORD video = 0;
        DWORD audio = 0;
        ASSERT_EQ(writer->AddStream(MakeVideoType(SmallHevc, header).Get(), &video), S_OK);
        ASSERT_EQ(writer->AddStream(MakeFlacType(48000, 2, configSource.CodecConfig()).Get(), &audio), S_OK);
        ASSERT_EQ(writer->BeginWriting(), S_OK);
        const Written written = WriteAll(writer.Get(), video, audio, packets);
        ASSERT_EQ(writer->Finalize(), S_OK);
        const auto streams = ProbeStreams(path);
        ASSERT_EQ(streams.size(), 2u) << path;
        EXPECT_EQ(streams[0].at("codec_name"), "hevc");
        EXPECT_EQ(streams[0].at("width"), "320");
        EXPECT_EQ(std::stoi(streams[0].at("nb_read_packets")), written.video);
        EXPECT_EQ(streams[1].at("codec_name"), "flac");
        EXPECT_EQ(std::stoi(streams[1].at("nb_read_packets")), written.audio);
    }
}

TEST_F(SinkWriter, RefusesTypesItCannotStore) {
    ComPtr<IMFSinkWriter> writer = NewWriter(m_folder.Path("refused.mp4"));
    DWORD index = 0;
    auto expectRefused = [&](ComPtr<IMFMediaType> type, const char* what) {
        EXPECT_EQ(writer->AddStream(type.Get(), &index), MF_E_INVALIDMEDIATYPE) << what;
    };
    ComPtr<IMFMediaType> nv12 = MakeVideoType(SmallH264);
    nv12->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
    expectRefused(nv12, "uncompressed video");
    ComPtr<IMFMediaType> noSize = MakeVideoType(SmallH264);
    noSize->DeleteItem(MF_MT_FRAME_SIZE);
    expectRefused(noSize, "no frame size");
    const std::uint8_t avcC[] = {1, 0x64, 0, 0x1f, 0xff};
    ComPtr<IMFMediaType> lengthPrefixed = MakeVideoType(SmallH264);
    lengthPrefixed->SetBlob(MF_MT_MPEG_SEQUENCE_HEADER, avcC, sizeof(avcC));
    expectRefused(lengthPrefixed, "sequence header not in Annex B form");
    ComPtr<IMFMediaType> adts = MakeAacType(48000, 2, {0x11, 0x90});
    adts->SetUINT32(MF_MT_AAC_PAYLOAD_TYPE, 1);
    expectRefused(adts, "ADTS payload");
    ComPtr<IMFMediaType> pcm = MakeAacType(48000, 2, {0x11, 0x90});
    pcm->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    expectRefused(pcm, "PCM audio");
    ComPtr<IMFMediaType> flacWithoutInfo = MakeFlacType(48000, 2, {1, 2, 3});
    expectRefused(flacWithoutInfo, "FLAC without STREAMINFO");
    ComPtr<IMFMediaType> empty;
    MFCreateMediaType(&empty);
    expectRefused(empty, "no major type");
    EXPECT_EQ(writer->AddStream(nullptr, &index), E_POINTER);
    EXPECT_EQ(writer->BeginWriting(), MF_E_INVALIDREQUEST);
}

TEST_F(SinkWriter, CreationNeedsAWritableMp4PathAndNeverFollowsALink) {
    IMFSinkWriter* writer = reinterpret_cast<IMFSinkWriter*>(1);
    EXPECT_EQ(MFCreateSinkWriterFromURL(m_folder.Wide("clip.avi").c_str(), nullptr, nullptr, &writer),
              MF_E_UNSUPPORTED_BYTESTREAM_TYPE);
    EXPECT_EQ(writer, nullptr);
    EXPECT_EQ(MFCreateSinkWriterFromURL(m_folder.Wide("missing/clip.mp4").c_str(), nullptr, nullptr, &writer),
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(MFCreateSinkWriterFromURL(nullptr, nullptr, nullptr, &writer), E_INVALIDARG);
    EXPECT_EQ(MFCreateSinkWriterFromURL(m_folder.Wide("clip.mp4").c_str(), nullptr, nullptr, nullptr),
              E_POINTER);

    const auto target = m_folder.Path("target.txt");
    std::ofstream(target) << "keep";
    std::filesystem::create_symlink(target, m_folder.Path("link.MP4"));
    EXPECT_EQ(MFCreateSinkWriterFromURL(m_folder.Wide("link.MP4").c_str(), nullptr, nullptr, &writer),
              E_ACCESSDENIED);
    EXPECT_EQ(std::filesystem::file_size(target), 4u);
}

TEST_F(SinkWriter, EnforcesTheOrderOfCallsAndReportsAnEmptyFile) {
    const auto packets = EncodeCapture(SmallH264, Aac, 0.1);
    ComPtr<IMFSinkWriter> writer = NewWriter(m_folder.Path("order.mp4"));
    ComPtr<IMFSample> sample = SampleOf(packets.front());
    DWORD video = 0;
    EXPECT_EQ(writer->WriteSample(0, sample.Get()), MF_E_INVALIDREQUEST);
    EXPECT_EQ(writer->Finalize(), MF_E_INVALIDREQUEST);
    ASSERT_EQ(writer->AddStream(MakeVideoType(SmallH264).Get(), &video), S_OK);
    ASSERT_EQ(writer->BeginWriting(), S_OK);
    EXPECT_EQ(writer->AddStream(MakeVideoType(SmallH264).Get(), &video), MF_E_INVALIDREQUEST);
    EXPECT_EQ(writer->BeginWriting(), MF_E_INVALIDREQUEST);
    EXPECT_EQ(writer->WriteSample(1, sample.Get()), MF_E_INVALIDSTREAMNUMBER);
    EXPECT_EQ(writer->WriteSample(0, nullptr), E_POINTER);
    ComPtr<IMFSample> untimed;
    MFCreateSample(&untimed);
    EXPECT_EQ(writer->WriteSample(0, untimed.Get()), MF_E_NO_SAMPLE_TIMESTAMP);
    EXPECT_EQ(writer->Finalize(), MF_E_SINK_NO_SAMPLES_PROCESSED);
    EXPECT_EQ(writer->Finalize(), MF_E_INVALIDREQUEST);
    EXPECT_EQ(writer->WriteSample(0, sample.Get()), MF_E_INVALIDREQUEST);
}

TEST_F(SinkWriter, VideoWithoutParameterSetsCannotBeFinalized) {
    auto packets = EncodeCapture(SmallH264, Aac, 0.5);
    std::erase_if(packets, [](const EncodedPacket& packet) { return packet.cleanPoint; });
    ComPtr<IMFSinkWriter> writer = NewWriter(m_folder.Path("nosets.mp4"));
    DWORD video = 0;
    ASSERT_EQ(writer->AddStream(MakeVideoType(SmallH264).Get(), &video), S_OK);
    ASSERT_EQ(writer->BeginWriting(), S_OK);
    for (const EncodedPacket& packet : packets) {
        if (packet.kind == EncodedPacket::Video) {
            EXPECT_EQ(writer->WriteSample(video, SampleOf(packet).Get()), S_OK);
        }
    }
    EXPECT_EQ(writer->Finalize(), MF_E_INVALID_FORMAT);
}

TEST(MediaTypeFormat, TakesTheAudioConfigurationFromTheUserDataOrBuildsIt) {
    av::StreamFormat format;
    ASSERT_EQ(MediaTypeToStreamFormat(MakeAacType(44100, 1, {0x12, 0x08, 0x56, 0xE5}).Get(), format), S_OK);
    EXPECT_EQ(format.codec, av::Codec::Aac);
    EXPECT_EQ(format.codecConfig, (std::vector<std::uint8_t>{0x12, 0x08, 0x56, 0xE5}));
    EXPECT_EQ(format.bitRate, 24000u * 8);

    ComPtr<IMFMediaType> bare = MakeAacType(48000, 2, {});
    bare->DeleteItem(MF_MT_USER_DATA);
    ASSERT_EQ(MediaTypeToStreamFormat(bare.Get(), format), S_OK);
    EXPECT_EQ(format.codecConfig, (std::vector<std::uint8_t>{0x11, 0x90}));

    std::vector<std::uint8_t> native = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34};
    for (std::uint8_t i = 0; i < 34; ++i)
        native.push_back(i);
    ASSERT_EQ(MediaTypeToStreamFormat(MakeFlacType(48000, 2, native).Get(), format), S_OK);
    ASSERT_EQ(format.codecConfig.size(), 34u);
    EXPECT_EQ(format.codecConfig.front(), 0);
    EXPECT_EQ(format.codecConfig.back(), 33);
    EXPECT_EQ(MediaTypeToStreamFormat(nullptr, format), E_POINTER);
}

} // namespace
