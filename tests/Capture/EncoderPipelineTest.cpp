// The capture topology with the platform's transforms: 1080p BGRA frames of moving content at 60 frames/s for
// 10 s go from a MediaSource through the video processor and the chosen encoder into a grabber sink and the
// ring; float audio of a tone goes through the resampler and the AAC encoder beside them. The ring is
// exported and the MP4 decoded: every delivered frame is there, key frames come every 120 frames from the
// first, the pictures are faithful and the tone keeps its frequency. The same holds with a codec library
// transform (over a platform encoder) chosen first through the custom-codec search, which the session also
// stops and shuts down as the Windows one does.

#include "Capture/D3DSampleAllocator.h"
#include "Capture/EncoderSelection.h"
#include "Capture/PacketHandler.h"
#include "Capture/SinkNodeHolder.h"
#include "Codec/MfCodec.h"
#include "MediaProbe.h"
#include "SessionTestSupport.h"
#include "TempDirectory.h"
#include "TransformTestSupport.h"
#include "WrappedEncoderCodec.h"
#include "ring/Export.h"
#include "ring/RingFile.h"
#include <codecapi.h>
#include <combaseapi.h>
#include <wmcodecdsp.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr int Width = 1920;
constexpr int Height = 1080;
constexpr int FrameRate = 60;
constexpr int Seconds = 10;
constexpr int Gop = 2 * FrameRate;
constexpr LONGLONG FrameDuration = 10'000'000 / FrameRate;
constexpr int AudioRate = 44100;
constexpr int AudioPacketFrames = AudioRate / 100;
constexpr double Tone = 1000.0;
// The frame number is drawn as 12 black or white squares along the top edge.
constexpr int CodeBits = 12;
constexpr int CodeSquare = 32;

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr))
        throw std::runtime_error(std::string(what) + " failed");
}

std::vector<std::uint8_t> DrawFrame(int number) {
    std::vector<std::uint8_t> pixels(std::size_t(Width) * Height * 4);
    const int block = 240;
    const int blockX = (number * 13) % (Width - block);
    const int blockY = CodeSquare + (number * 5) % (Height - block - CodeSquare);
    for (int row = 0; row < Height; ++row) {
        std::uint8_t* line = &pixels[std::size_t(row) * Width * 4];
        for (int column = 0; column < Width; ++column) {
            std::uint8_t* pixel = line + column * 4;
            const bool inBlock =
                column >= blockX && column < blockX + block && row >= blockY && row < blockY + block;
            pixel[0] = static_cast<std::uint8_t>(inBlock ? 40 : ((column + number * 6) % 1024) / 4);
            pixel[1] = static_cast<std::uint8_t>(inBlock ? 200 : 40 + row * 160 / Height);
            pixel[2] =
                static_cast<std::uint8_t>(inBlock ? 230 : 60 + (column + row) * 120 / (Width + Height));
            pixel[3] = 255;
        }
    }
    for (int bit = 0; bit < CodeBits; ++bit) {
        const std::uint8_t value = (number >> bit) & 1 ? 255 : 0;
        for (int row = 0; row < CodeSquare; ++row)
            std::fill_n(&pixels[(std::size_t(row) * Width + bit * CodeSquare) * 4], CodeSquare * 4, value);
    }
    return pixels;
}

int ReadFrameNumber(const YuvFrame& frame) {
    int number = 0;
    for (int bit = 0; bit < CodeBits; ++bit)
        if (frame.y[std::size_t(CodeSquare / 2) * frame.width + bit * CodeSquare + CodeSquare / 2] > 128)
            number |= 1 << bit;
    return number;
}

ComPtr<IMFMediaType> SourceVideoType() {
    ComPtr<IMFMediaType> type = MakeVideoType(MFVideoFormat_ARGB32, Width, Height, FrameRate);
    type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
    type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, 1);
    type->SetUINT32(MF_MT_AVG_BITRATE, 0);
    return type;
}

void SetCodecValue(ICodecAPI* api, const GUID& key, VARTYPE kind, UINT32 value) {
    VARIANT variant{};
    variant.vt = kind;
    if (kind == VT_BOOL)
        variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    else
        variant.ulVal = value;
    Check(api->SetValue(&key, &variant), "ICodecAPI::SetValue");
}

// What a capture builds: the two branches, the session over them and the packet handler behind both sinks.
struct PipelineChoice {
    VideoCodecChoice codec;
    bool codecLibrary = false;
};

class CaptureTopology {
public:
    CaptureTopology(PipelineChoice choice, RingFile& ring) {
        const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
        Check(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                &level, 1, D3D11_SDK_VERSION, &m_device, nullptr, &m_context),
              "D3D11CreateDevice");
        m_allocator = MakeComObject<D3DSampleAllocator>(m_device.Get());
        UINT token = 0;
        Check(MFCreateDXGIDeviceManager(&token, &m_manager), "MFCreateDXGIDeviceManager");
        Check(m_manager->ResetDevice(m_device.Get(), token), "ResetDevice");
        BuildVideo(choice);
        BuildAudio();

        IMFMediaType* types[] = {m_sourceVideoType.Get(), m_sourceAudioType.Get()};
        Check(MediaSource::CreateInstance(MediaSourceType::Server, 2, types, &m_source), "MediaSource");
        Check(m_source->GetStream(0, &m_videoStream), "video stream");
        Check(m_source->GetStream(1, &m_audioStream), "audio stream");
        ComPtr<IMFTopology> topology;
        Check(MFCreateTopology(&topology), "MFCreateTopology");
        Check(AddBranch(topology.Get(), m_source.Get(), 0, {m_processor.Get(), m_videoEncoder.Get()},
                        m_videoSink->StreamSink()),
              "video branch");
        Check(AddBranch(topology.Get(), m_source.Get(), 1, {m_resampler.Get(), m_audioEncoder.Get()},
                        m_audioSink->StreamSink()),
              "audio branch");
        ComPtr<IMFAttributes> attributes;
        Check(MFCreateAttributes(&attributes, 1), "MFCreateAttributes");
        attributes->SetUINT32(MF_LOW_LATENCY, 1);
        Check(MFCreateMediaSession(attributes.Get(), &m_session), "MFCreateMediaSession");
        m_events = EventRecorder::Listen(m_session.Get());
        Check(m_session->SetTopology(0, topology.Get()), "SetTopology");

        m_packets.Start(&ring, 0);
        m_videoSink->SetSinkFunction(Counting(RingStreamKind::Video, m_videoPackets));
        m_audioSink->SetSinkFunction(Counting(RingStreamKind::Audio, m_audioPackets));
    }

    ~CaptureTopology() {
        if (m_source)
            m_source->Shutdown();
        if (m_session)
            m_session->Shutdown();
        // The session shuts an asynchronous codec transform down before letting it go.
        if (m_codec != nullptr) {
            EXPECT_EQ(m_codec->getState(), kiv::mfcodec::Base::State::ShutDown);
        }
    }

    // Feeds audio, then video once audio flows, as a capture does, and lets the pipeline settle.
    void Run() {
        PROPVARIANT start;
        PropVariantInit(&start);
        Check(m_session->Start(&GUID_NULL, &start), "Start");
        ASSERT_TRUE(m_events->WaitFor(MESessionStarted));
        std::atomic<bool> stop{false};
        std::thread audio([&] { FeedAudio(stop); });
        ASSERT_TRUE(WaitUntil([&] { return m_audioPackets > 0; }));
        FeedVideo();
        // Everything in flight reaches the sinks: the counts stop moving.
        int last = -1;
        while (last != m_videoPackets) {
            last = m_videoPackets;
            std::this_thread::sleep_for(300ms);
        }
        stop = true;
        audio.join();
        // As a capture stops: the session first, so that a packet still on its way when the counts seemed
        // settled is written before the handler lets go of the ring, rather than counted and dropped.
        ASSERT_EQ(m_session->Stop(), S_OK);
        ASSERT_TRUE(m_events->WaitFor(MESessionStopped));
        m_packets.Stop();
        ASSERT_EQ(m_events->Count(MEError), 0u);
        // The stop told the codec transform that its stream and streaming ended.
        if (m_codec != nullptr) {
            EXPECT_EQ(m_codec->getState(), kiv::mfcodec::Base::State::Finalized);
        }
    }

    IMFMediaType* VideoType() const { return m_videoType.Get(); }
    IMFMediaType* AudioType() const { return m_audioType.Get(); }
    int VideoPackets() const { return m_videoPackets; }
    int QueuedFrames() const { return m_queuedFrames; }

private:
    void BuildVideo(PipelineChoice choice) {
        m_sourceVideoType = SourceVideoType();
        VideoCodecOptions options;
        options.codec = choice.codec;
        options.device = m_device.Get();
        options.includeCustomCodecs = choice.codecLibrary ? 1 : 0;
        options.driverVersion = ~0ULL;
        // The codec library's table with the test transform in place of the vendor ones.
        const EncoderSelection selection(MFTEnumEx, [](const EncoderQuery& query, const auto& callback) {
            kiv::mfcodec::EnumerateCodecs({&WrappedEncoderCodec::Registration(), 1}, query, callback);
        });
        GUID input = GUID_NULL;
        VideoCodecKind kind = VideoCodecKind::H264;
        EncoderInfo encoder = selection.ChooseVideo(options, input, kind);
        if (input != MFVideoFormat_NV12)
            throw std::runtime_error("the platform's encoders take NV12");
        m_videoEncoder = encoder.mft;
        if (choice.codecLibrary) {
            m_codec = dynamic_cast<kiv::mfcodec::Base*>(m_videoEncoder.Get());
            if (m_codec == nullptr)
                throw std::runtime_error("the codec library's transform was not chosen");
        }

        ComPtr<IMFMediaType> processed;
        Check(CopyType(m_sourceVideoType.Get(), processed), "copy");
        processed->SetGUID(MF_MT_SUBTYPE, input);
        Check(CoCreateInstance(CLSID_VideoProcessorMFT, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(&m_processor)),
              "video processor");
        Check(m_processor->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER,
                                          reinterpret_cast<ULONG_PTR>(m_manager.Get())),
              "MFT_MESSAGE_SET_D3D_MANAGER");
        ComPtr<IMFAttributes> attributes;
        Check(m_processor->GetAttributes(&attributes), "GetAttributes");
        attributes->SetUINT32(MF_XVP_DISABLE_FRC, TRUE);
        Check(m_processor->SetOutputType(0, processed.Get(), 0), "processor output");
        Check(m_processor->SetInputType(0, m_sourceVideoType.Get(), 0), "processor input");

        ComPtr<ICodecAPI> api;
        Check(m_videoEncoder->QueryInterface(&api), "ICodecAPI");
        SetCodecValue(api.Get(), CODECAPI_AVLowLatencyMode, VT_BOOL, 1);
        SetCodecValue(api.Get(), CODECAPI_AVEncMPVGOPSize, VT_UI4, Gop);
        SetCodecValue(api.Get(), CODECAPI_AVEncCommonRateControlMode, VT_UI4,
                      eAVEncCommonRateControlMode_CBR);
        if (kind == VideoCodecKind::H264)
            SetCodecValue(api.Get(), CODECAPI_AVEncH264CABACEnable, VT_BOOL, 0);
        ComPtr<IMFMediaType> output;
        Check(CopyType(processed.Get(), output), "copy");
        output->SetGUID(MF_MT_SUBTYPE, encoder.output);
        output->SetUINT32(MF_MT_MPEG2_PROFILE, kind == VideoCodecKind::Hevc
                                                   ? UINT32(eAVEncH265VProfile_Main_420_8)
                                                   : UINT32(eAVEncH264VProfile_High));
        output->DeleteItem(MF_MT_FIXED_SIZE_SAMPLES);
        output->DeleteItem(MF_MT_ALL_SAMPLES_INDEPENDENT);
        Check(m_videoEncoder->SetOutputType(0, output.Get(), 0), "encoder output");
        Check(m_videoEncoder->SetInputType(0, processed.Get(), 0), "encoder input");
        Check(m_videoEncoder->GetOutputCurrentType(0, &m_videoType), "encoder output type");
        m_videoSink = std::make_unique<SinkNodeHolder>(m_videoType.Get(), true);
    }

    void BuildAudio() {
        m_sourceAudioType = MakeAudioType(MFAudioFormat_Float, 32, AudioRate, 2);
        Check(CoCreateInstance(CLSID_AudioResamplerMediaObject, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMFTransform, &m_resampler),
              "resampler");
        ComPtr<IMFMediaType> pcm = MakeAudioType(MFAudioFormat_PCM, 16, 48000, 2);
        Check(m_resampler->SetInputType(0, m_sourceAudioType.Get(), 0), "resampler input");
        Check(m_resampler->SetOutputType(0, pcm.Get(), 0), "resampler output");
        m_audioEncoder = EncoderSelection().ChooseAudio(pcm.Get(), AudioCodecKind::Aac);
        Check(m_audioEncoder->GetOutputCurrentType(0, &m_audioType), "audio output type");
        m_audioSink = std::make_unique<SinkNodeHolder>(m_audioType.Get(), true);
    }

    static HRESULT CopyType(IMFMediaType* source, ComPtr<IMFMediaType>& copy) {
        HRESULT hr = MFCreateMediaType(&copy);
        return SUCCEEDED(hr) ? source->CopyAllItems(copy.Get()) : hr;
    }

    GenericGrabberSinkCallback::Function Counting(RingStreamKind kind, std::atomic<int>& count) {
        return [this, &count, next = m_packets.SinkFunction(kind)](REFGUID major, DWORD flags, LONGLONG time,
                                                                   LONGLONG duration, const BYTE* data,
                                                                   DWORD size, IMFAttributes* attributes) {
            next(major, flags, time, duration, data, size, attributes);
            ++count;
        };
    }

    // 10 s of frames at their times, each copied into a pool texture as the capture does.
    void FeedVideo() {
        const D3D11_TEXTURE2D_DESC desc = CapturedTextureDesc(Width, Height);
        ComPtr<ID3D11Texture2D> captured;
        Check(m_device->CreateTexture2D(&desc, nullptr, &captured), "CreateTexture2D");
        const auto begin = std::chrono::steady_clock::now();
        for (int number = 0; number < FrameRate * Seconds; ++number) {
            std::this_thread::sleep_until(begin +
                                          std::chrono::microseconds(number * 1'000'000LL / FrameRate));
            const std::vector<std::uint8_t> frame = DrawFrame(number);
            m_context->UpdateSubresource(captured.Get(), 0, nullptr, frame.data(), Width * 4, 0);
            ComPtr<IMFSample> sample;
            Check(m_allocator->Allocate(captured.Get(), &sample), "Allocate");
            sample->SetSampleTime(number * FrameDuration);
            sample->SetSampleDuration(FrameDuration);
            Check(m_videoStream->QueueSample(sample.Get()), "QueueSample");
            ++m_queuedFrames;
        }
    }

    void FeedAudio(const std::atomic<bool>& stop) {
        std::vector<float> packet(AudioPacketFrames * 2);
        const auto begin = std::chrono::steady_clock::now();
        for (int index = 0; !stop; ++index) {
            std::this_thread::sleep_until(begin + std::chrono::milliseconds(index * 10));
            for (int i = 0; i < AudioPacketFrames; ++i)
                packet[i * 2] = packet[i * 2 + 1] =
                    float(0.4 * std::sin(2 * M_PI * Tone * (index * AudioPacketFrames + i) / AudioRate));
            ComPtr<IMFSample> sample =
                MakeSample(packet.data(), packet.size() * 4, index * 100'000LL, 100'000);
            Check(m_audioStream->QueueSample(sample.Get()), "QueueSample");
        }
    }

    ComPtr<ID3D11Device> m_device;
    ComPtr<ID3D11DeviceContext> m_context;
    ComPtr<D3DSampleAllocator> m_allocator;
    ComPtr<IMFDXGIDeviceManager> m_manager;
    ComPtr<IMFMediaType> m_sourceVideoType;
    ComPtr<IMFMediaType> m_sourceAudioType;
    ComPtr<IMFTransform> m_processor;
    ComPtr<IMFTransform> m_videoEncoder;
    kiv::mfcodec::Base* m_codec = nullptr; // the codec library's transform, when it is the encoder
    ComPtr<IMFTransform> m_resampler;
    ComPtr<IMFTransform> m_audioEncoder;
    ComPtr<IMFMediaType> m_videoType;
    ComPtr<IMFMediaType> m_audioType;
    std::unique_ptr<SinkNodeHolder> m_videoSink;
    std::unique_ptr<SinkNodeHolder> m_audioSink;
    ComPtr<MediaSource> m_source;
    ComPtr<MediaStream> m_videoStream;
    ComPtr<MediaStream> m_audioStream;
    ComPtr<IMFMediaSession> m_session;
    ComPtr<EventRecorder> m_events;
    PacketHandler m_packets;
    std::atomic<int> m_videoPackets{0};
    std::atomic<int> m_audioPackets{0};
    int m_queuedFrames = 0;
};

std::vector<float> DecodeAudioMono(const std::filesystem::path& file) {
    const CommandResult result = RunCommand(
        {"ffmpeg", "-v", "error", "-i", file.string(), "-map", "0:a", "-ac", "1", "-f", "f32le", "-"});
    std::vector<float> samples(result.output.size() / sizeof(float));
    std::memcpy(samples.data(), result.output.data(), samples.size() * sizeof(float));
    return samples;
}

class CapturePipelineTest : public ::testing::TestWithParam<PipelineChoice> {};

} // namespace

TEST_P(CapturePipelineTest, RecordsEveryDeliveredFrameWithKeyFramesAtTheGopAndTheToneIntact) {
    PlatformStarted platform;
    TempDirectory folder;
    const std::wstring ringName = folder.Wide("ring");
    RingFile ring;
    ASSERT_TRUE(ring.OpenForWrite(ringName, 60));
    ComPtr<IMFMediaType> videoType;
    ComPtr<IMFMediaType> audioType;
    int delivered = 0;
    {
        CaptureTopology capture(GetParam(), ring);
        capture.Run();
        if (HasFatalFailure())
            return;
        videoType = capture.VideoType();
        audioType = capture.AudioType();
        // The source keeps only the newest frame, so a busy machine may skip some; what reached the sink
        // counts.
        delivered = capture.VideoPackets();
        EXPECT_LE(delivered, capture.QueuedFrames());
        std::printf("%d of %d frames delivered\n", delivered, capture.QueuedFrames());
    }
    ring.Close();
    Export(ringName, folder.Wide("out"), videoType.Get(), audioType.Get());
    const std::filesystem::path file = folder.Path("out.mp4");

    const std::vector<ProbedPacket> packets = ProbePackets(file, "v");
    ASSERT_EQ(int(packets.size()), delivered);
    for (std::size_t i = 0; i < packets.size(); ++i)
        EXPECT_EQ(packets[i].keyFrame, i % Gop == 0) << "packet " << i;

    constexpr int Every = 50;
    const std::vector<YuvFrame> frames = DecodeEveryNthFrame(file, Width, Height, Every);
    ASSERT_EQ(int(frames.size()), (delivered + Every - 1) / Every);
    int previous = -1;
    for (const YuvFrame& frame : frames) {
        const int number = ReadFrameNumber(frame);
        EXPECT_GT(number, previous);
        previous = number;
        const Yuv420 decoded{frame.width, frame.height, frame.y, frame.u, frame.v};
        EXPECT_GT(Psnr(decoded, ReferenceYuv(DrawFrame(number), Width, Height)), 35.0) << "frame " << number;
    }

    // Like video, audio waiting longer than the session takes to ask for it is dropped on a busy machine.
    const std::vector<float> audio = DecodeAudioMono(file);
    EXPECT_GT(audio.size(), std::size_t(48000));
    EXPECT_NEAR(ToneFrequency(audio, 48000), Tone, 3.0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, CapturePipelineTest,
                         ::testing::Values(PipelineChoice{VideoCodecChoice::H264},
                                           PipelineChoice{VideoCodecChoice::Hevc},
                                           PipelineChoice{VideoCodecChoice::H264, true}),
                         [](const auto& info) {
                             if (info.param.codecLibrary)
                                 return std::string("H264ThroughCodecLibrary");
                             return std::string(info.param.codec == VideoCodecChoice::H264 ? "H264" : "Hevc");
                         });
