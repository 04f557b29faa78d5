// The audio branch against a scripted playback device: what reaches the media source's stream while the
// device plays, stays quiet, marks a gap, or goes away.

#include "Capture/AudioCapturePipeline.h"
#include "LogCapture.h"
#include "ProcessRunner.h"
#include "SourceTestSupport.h"
#include "platform/win/ClassRegistry.h"
#include <combaseapi.h>
#include <mmdeviceapi.h>
#include <propidl.h>
#include <pyx/CaptureClock.h>
#include <wrl/implements.h>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <mutex>

namespace {

constexpr UINT32 Rate = 48000;
constexpr UINT32 Channels = 2;
constexpr UINT32 FrameBytes = Channels * sizeof(float);
// 166666 units of 100 ns asked for at 60 frames/s: the device grants 800 frames, polled every 8 ms.
constexpr UINT32 BufferFrames = 800;
constexpr int PollMs = 8;

struct Packet {
    std::vector<float> samples;
    DWORD flags = 0;
    // When the device says the first frame was recorded; 0 for a device that does not say.
    UINT64 recordedAt = 0;
};

// What the fake device plays and how it fails; shared by every fake object and the test.
struct DeviceScript {
    std::mutex mutex;
    std::deque<Packet> packets;
    HRESULT readFailure = S_OK;
    HRESULT activateFailure = S_OK;
    int activations = 0;
};

DeviceScript* g_script = nullptr;

class FakeCaptureClient final : public ComObject<IAudioCaptureClient> {
public:
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64*,
                                        UINT64* recordedAt) override {
        std::lock_guard lock(g_script->mutex);
        if (g_script->packets.empty())
            return AUDCLNT_S_BUFFER_EMPTY;
        Packet& packet = g_script->packets.front();
        *data = reinterpret_cast<BYTE*>(packet.samples.data());
        *frames = static_cast<UINT32>(packet.samples.size() / Channels);
        *flags = packet.flags;
        if (recordedAt != nullptr)
            *recordedAt = packet.recordedAt;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32) override {
        std::lock_guard lock(g_script->mutex);
        g_script->packets.pop_front();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
        std::lock_guard lock(g_script->mutex);
        if (FAILED(g_script->readFailure))
            return g_script->readFailure;
        *frames = g_script->packets.empty()
                      ? 0
                      : static_cast<UINT32>(g_script->packets.front().samples.size() / Channels);
        return S_OK;
    }
};

class FakeAudioClient final : public ComObject<IAudioClient> {
public:
    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                         LPCGUID) override {
        const bool expected = mode == AUDCLNT_SHAREMODE_SHARED && flags == AUDCLNT_STREAMFLAGS_LOOPBACK &&
                              duration == 166666 && periodicity == 0 && format != nullptr &&
                              format->nSamplesPerSec == Rate;
        return expected ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override {
        *frames = BufferFrames;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
        auto* mix = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
        *mix = WAVEFORMATEX{WAVE_FORMAT_IEEE_FLOAT, Channels, Rate, Rate * FrameBytes, FrameBytes, 32, 0};
        *format = mix;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* period, REFERENCE_TIME*) override {
        *period = 100000;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Start() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** ppv) override {
        return MakeComObject<FakeCaptureClient>()->QueryInterface(riid, ppv);
    }
};

class FakeDevice final : public ComObject<IMMDevice> {
public:
    using IMMDevice::Activate;
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** ppInterface) override {
        std::lock_guard lock(g_script->mutex);
        ++g_script->activations;
        if (FAILED(g_script->activateFailure))
            return g_script->activateFailure;
        return MakeComObject<FakeAudioClient>()->QueryInterface(iid, ppInterface);
    }
};

class FakeEnumerator final : public ComObject<IMMDeviceEnumerator> {
public:
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice** endpoint) override {
        *endpoint = MakeComObject<FakeDevice>().Detach();
        return S_OK;
    }
};

class AudioCapturePipelineTest : public ::testing::Test {
protected:
    AudioCapturePipelineTest() {
        g_script = &m_script;
        RegisterPlatformClass(CLSID_MMDeviceEnumerator, [](REFIID riid, void** ppv) {
            return MakeComObject<FakeEnumerator>()->QueryInterface(riid, ppv);
        });
    }
    ~AudioCapturePipelineTest() override {
        m_pipeline.reset();
        if (m_source)
            m_source->Shutdown();
        RegisterMMDeviceEnumeratorClass();
        g_script = nullptr;
    }

    // Builds the pipeline on stream 0 of a started source of its own type and starts capturing.
    void Start() {
        CaptureOptions options;
        m_pipeline =
            std::make_unique<AudioCapturePipeline>(options, GenericGrabberSinkCallback::Function(), 0);
        IMFMediaType* types[] = {m_pipeline->MediaType()};
        ASSERT_EQ(MediaSource::CreateInstance(MediaSourceType::Server, 1, types, &m_source), S_OK);
        ComPtr<IMFTopology> topology;
        ASSERT_EQ(MFCreateTopology(&topology), S_OK);
        m_pipeline->AddToTopology(topology.Get(), m_source.Get());
        ASSERT_EQ(m_source->GetStream(0, &m_stream), S_OK);
        ComPtr<IMFPresentationDescriptor> presentation;
        ASSERT_EQ(m_source->CreatePresentationDescriptor(&presentation), S_OK);
        PROPVARIANT start;
        PropVariantInit(&start);
        ASSERT_EQ(m_source->Start(presentation.Get(), &GUID_NULL, &start), S_OK);
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(NextEvent(m_source.Get()));
        ASSERT_TRUE(NextEvent(m_stream.Get()));
        m_pipeline->Start(0);
    }

    // The next sample the stream hands out on request; null when none comes in time.
    ComPtr<IMFSample> NextSample(std::chrono::milliseconds timeout = 2000ms) {
        EXPECT_EQ(m_stream->RequestSample(nullptr), S_OK);
        const ComPtr<IMFMediaEvent> event = NextEvent(m_stream.Get(), timeout);
        ComPtr<IMFSample> sample;
        if (event && TypeOf(event.Get()) == MEMediaSample)
            ValueOf(event.Get())->QueryInterface(IID_PPV_ARGS(&sample));
        return sample;
    }

    // The next sample that is not silence: silent ones may come first, until the played packet is read.
    ComPtr<IMFSample> NextPlayedSample() {
        for (int i = 0; i < 50; ++i) {
            ComPtr<IMFSample> sample = NextSample();
            if (!sample || !Silent(Samples(sample.Get())))
                return sample;
        }
        return nullptr;
    }

    void Play(std::size_t frames, DWORD flags = 0, float value = 0.25f, UINT64 recordedAt = 0) {
        Packet packet{std::vector<float>(frames * Channels, value), flags, recordedAt};
        std::lock_guard lock(m_script.mutex);
        m_script.packets.push_back(std::move(packet));
    }

    static std::vector<float> Samples(IMFSample* sample) {
        ComPtr<IMFMediaBuffer> buffer;
        EXPECT_EQ(sample->ConvertToContiguousBuffer(&buffer), S_OK);
        BYTE* data = nullptr;
        DWORD length = 0;
        EXPECT_EQ(buffer->Lock(&data, nullptr, &length), S_OK);
        std::vector<float> samples(length / sizeof(float));
        std::memcpy(samples.data(), data, samples.size() * sizeof(float));
        buffer->Unlock();
        return samples;
    }

    static bool Silent(const std::vector<float>& samples) {
        return std::all_of(samples.begin(), samples.end(), [](float s) { return s == 0.0f; });
    }

    PlatformStarted m_platform;
    LogCapture m_log;
    DeviceScript m_script;
    std::unique_ptr<AudioCapturePipeline> m_pipeline;
    ComPtr<MediaSource> m_source;
    ComPtr<MediaStream> m_stream;
};

} // namespace

TEST_F(AudioCapturePipelineTest, DescribesTheMixFormatAsFloatAudio) {
    ASSERT_NO_FATAL_FAILURE(Start());
    IMFMediaType* type = m_pipeline->MediaType();
    GUID subtype = GUID_NULL;
    EXPECT_EQ(type->GetGUID(MF_MT_SUBTYPE, &subtype), S_OK);
    EXPECT_EQ(subtype, MFAudioFormat_Float);
    EXPECT_EQ(MFGetAttributeUINT32(type, MF_MT_AUDIO_BITS_PER_SAMPLE, 0), 32u);
    EXPECT_EQ(MFGetAttributeUINT32(type, MF_MT_AUDIO_BLOCK_ALIGNMENT, 0), 8u);
    EXPECT_EQ(MFGetAttributeUINT32(type, MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 0), 384000u);
    EXPECT_EQ(MFGetAttributeUINT32(type, MF_MT_AUDIO_SAMPLES_PER_SECOND, 0), Rate);
    EXPECT_EQ(MFGetAttributeUINT32(type, MF_MT_AUDIO_NUM_CHANNELS, 0), Channels);
    EXPECT_TRUE(m_log.Contains("INFO Audio capture initialized"));
    // The encoded stream is 48 kHz stereo AAC.
    GUID encoded = GUID_NULL;
    m_pipeline->OutputType()->GetGUID(MF_MT_SUBTYPE, &encoded);
    EXPECT_EQ(encoded, MFAudioFormat_AAC);
}

TEST_F(AudioCapturePipelineTest, QuietDeviceGivesZeroFilledPacketsOfOnePollInterval) {
    ASSERT_NO_FATAL_FAILURE(Start());
    for (int i = 0; i < 3; ++i) {
        const ComPtr<IMFSample> sample = NextSample();
        ASSERT_TRUE(sample);
        const std::vector<float> samples = Samples(sample.Get());
        EXPECT_EQ(samples.size() * sizeof(float), std::size_t(PollMs) * 384000 / 1000);
        EXPECT_TRUE(Silent(samples));
        LONGLONG duration = 0;
        EXPECT_EQ(sample->GetSampleDuration(&duration), S_OK);
        EXPECT_EQ(duration, PollMs * 10000);
    }
}

// A packet read a while after it was recorded keeps the device's time of it, and the silence before it ends
// by then: silence fills only time that no packet still on its way can cover.
TEST_F(AudioCapturePipelineTest, PlayedPacketsArriveWhole_AtTheirRecordedTime_AndAGapIsMarked) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(NextSample());
    const auto recordedAt = static_cast<LONGLONG>(pyx::CaptureTime().count() - 100000);
    Play(480, AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY, 0.5f, static_cast<UINT64>(recordedAt));
    ComPtr<IMFSample> sample;
    LONGLONG silenceEnd = 0;
    for (int i = 0; i < 50; ++i) {
        sample = NextSample();
        ASSERT_TRUE(sample);
        LONGLONG time = 0;
        LONGLONG length = 0;
        sample->GetSampleTime(&time);
        sample->GetSampleDuration(&length);
        if (!Silent(Samples(sample.Get())))
            break;
        silenceEnd = time + length;
    }
    LONGLONG time = 0;
    EXPECT_EQ(sample->GetSampleTime(&time), S_OK);
    EXPECT_EQ(time, recordedAt);
    EXPECT_LE(silenceEnd, recordedAt);
    const std::vector<float> samples = Samples(sample.Get());
    ASSERT_EQ(samples.size(), 480u * Channels);
    EXPECT_EQ(samples.front(), 0.5f);
    EXPECT_EQ(MFGetAttributeUINT32(sample.Get(), MFSampleExtension_Discontinuity, 0), 1u);
    LONGLONG duration = 0;
    sample->GetSampleDuration(&duration);
    EXPECT_EQ(duration, 100000);
}

// While played audio covers the time, no silence is slipped in between packets: that would make the sound
// run ahead of the picture. What the device holds at a stop still comes through.
TEST_F(AudioCapturePipelineTest, NoSilenceIsAddedWhilePlayedAudioCoversTheTime_AndAStopReadsTheRest) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Play(9600); // 200 ms
    const ComPtr<IMFSample> sample = NextPlayedSample();
    ASSERT_TRUE(sample);
    // The next samples within the packet's 200 ms: none.
    EXPECT_FALSE(NextSample(150ms));
    // Afterwards silence resumes.
    const ComPtr<IMFSample> later = NextSample();
    ASSERT_TRUE(later);
    EXPECT_TRUE(Silent(Samples(later.Get())));

    // A stop reads what waits in the buffer: the newest sound of the recording.
    Play(480, 0, 0.75f);
    m_pipeline->Stop();
    const ComPtr<IMFSample> last = NextPlayedSample();
    ASSERT_TRUE(last);
    EXPECT_EQ(Samples(last.Get()).front(), 0.75f);
}

TEST_F(AudioCapturePipelineTest, ALostDeviceIsOpenedAgainEverySecondUntilItWorks) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(NextSample());
    {
        std::lock_guard lock(m_script.mutex);
        m_script.readFailure = AUDCLNT_E_DEVICE_INVALIDATED;
        m_script.activateFailure = AUDCLNT_E_DEVICE_INVALIDATED;
    }
    ASSERT_TRUE(
        Eventually([&] { return m_log.Contains("INFO Attempting to reinitialize audio capture..."); }));
    const auto failedAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(m_script.mutex);
        return m_script.activations >= 3;
    }));
    // Two failed openings after the first: about a second apart.
    EXPECT_GE(std::chrono::steady_clock::now() - failedAt, 900ms);
    {
        std::lock_guard lock(m_script.mutex);
        m_script.readFailure = S_OK;
        m_script.activateFailure = S_OK;
    }
    ASSERT_TRUE(Eventually(
        [&] {
            const auto lines = m_log.Lines();
            return std::count(lines.begin(), lines.end(), "INFO Audio capture initialized") >= 2;
        },
        3000ms));
    // Samples flow again: a played packet comes through.
    Play(480, 0, 0.75f);
    const ComPtr<IMFSample> sample = NextPlayedSample();
    ASSERT_TRUE(sample);
    EXPECT_EQ(Samples(sample.Get()).front(), 0.75f);

    m_pipeline->Stop();
    EXPECT_TRUE(m_log.Contains("INFO Audio capture thread stopped"));
}
