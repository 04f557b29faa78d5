#include "AudioCapturePipeline.h"

#include "EncoderSelection.h"
#include "Media/TopologyBranch.h"
#include "ProcessLoopbackActivation.h"
#include "Util/Assert.h"
#include "Util/ComException.h"
#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include <combaseapi.h>
#include <mfobjects.h>
#include <mmdeviceapi.h>
#include <processthreadsapi.h>
#include <propidl.h>
#include <pyx/CaptureClock.h>
#include <stringapiset.h>
#include <wmcodecdsp.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

constexpr std::int32_t ReinitializeDelayMs = 1000;
constexpr UINT32 EncoderSampleRate = 48000;
constexpr UINT32 EncoderChannels = 2;
constexpr UINT32 EncoderBitsPerSample = 16;

using Milliseconds = std::chrono::duration<double, std::milli>;

// Truncated, as the client's buffer duration and the silence durations are.
std::int64_t HundredNanosecondsIn(Milliseconds time) {
    return std::chrono::duration_cast<pyx::HundredNanoseconds>(time).count();
}

// Copies into a locked buffer and never past its end.
class BoundedWriter {
public:
    BoundedWriter(BYTE* destination, std::size_t capacity) : m_next(destination), m_remaining(capacity) {}

    void Write(const BYTE* data, std::size_t len) {
        PYX_ASSERT(len <= m_remaining);
        std::memcpy(m_next, data, len);
        m_next += len;
        m_remaining -= len;
    }

private:
    BYTE* m_next;
    std::size_t m_remaining;
};

ComPtr<IMFMediaType> MakePcmOutputType() {
    ComPtr<IMFMediaType> type;
    ThrowIfFailed(MFCreateMediaType(&type), "MFCreateMediaType( &outputType )");
    ThrowIfFailed(type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio),
                  "outputType->SetGUID( MF_MT_MAJOR_TYPE, MFMediaType_Audio )");
    ThrowIfFailed(type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM),
                  "outputType->SetGUID( MF_MT_SUBTYPE, MFAudioFormat_PCM )");
    ThrowIfFailed(type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, EncoderBitsPerSample),
                  "outputType->SetUINT32( MF_MT_AUDIO_BITS_PER_SAMPLE, 16 )");
    ThrowIfFailed(type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, EncoderSampleRate),
                  "outputType->SetUINT32( MF_MT_AUDIO_SAMPLES_PER_SECOND, 48000 )");
    ThrowIfFailed(type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, EncoderChannels),
                  "outputType->SetUINT32( MF_MT_AUDIO_NUM_CHANNELS, 2 )");
    ThrowIfFailed(type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1),
                  "outputType->SetUINT32( MF_MT_ALL_SAMPLES_INDEPENDENT, 1 )");
    ThrowIfFailed(type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, EncoderChannels * EncoderBitsPerSample / 8),
                  "outputType->SetUINT32( MF_MT_AUDIO_BLOCK_ALIGNMENT, 4 )");
    ThrowIfFailed(type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND,
                                  EncoderSampleRate * EncoderChannels * EncoderBitsPerSample / 8),
                  "outputType->SetUINT32( MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 192000 )");
    return type;
}

} // namespace

void AudioCapturePipeline::TaskMemFree::operator()(WAVEFORMATEX* format) const { CoTaskMemFree(format); }

AudioCapturePipeline::AudioCapturePipeline(const CaptureOptions& options,
                                           GenericGrabberSinkCallback::Function sinkFunction,
                                           DWORD streamIndex)
    : m_dataCallback([this](const BYTE* data, std::int32_t size, std::uint64_t time, std::uint64_t duration,
                            std::uint32_t flags) { OnAudioData(data, size, time, duration, flags); }),
      m_bufferDurationMs(1000.0 / options.EffectiveFrameRate()), m_silence(options.audioFlag),
      m_processTree(options.audio.mode == AudioCaptureMode::Application ? options.audio.processId : 0),
      m_streamIndex(streamIndex) {
    InitializeDevice();
    CreateResampler();
    ComPtr<IMFMediaType> pcm;
    ThrowIfFailed(m_resampler->GetOutputCurrentType(0, &pcm), "m_resampler->GetOutputCurrentType( 0, &pcm )");
    EncoderInfo chosen;
    m_encoder = EncoderSelection().ChooseAudio(pcm.Get(), options.audioCodec, &chosen);
    m_encoderDescription = {WideToUtf8(chosen.name), chosen.hardware};
    ComPtr<IMFMediaType> encoded;
    ThrowIfFailed(m_encoder->GetOutputCurrentType(0, &encoded),
                  "m_encoder->GetOutputCurrentType( 0, &outputType )");
    m_sinkNode = std::make_unique<SinkNodeHolder>(encoded.Get(), true);
    m_sinkNode->SetSinkFunction(std::move(sinkFunction));
}

AudioCapturePipeline::~AudioCapturePipeline() { Stop(); }

void AudioCapturePipeline::InitializeDevice() {
    ComPtr<IMMDeviceEnumerator> deviceEnum;
    ThrowIfFailed(
        CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(&deviceEnum)),
        "CoCreateInstance( __uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS( "
        "&deviceEnum ) )");
    ComPtr<IMMDevice> device;
    ThrowIfFailed(deviceEnum->GetDefaultAudioEndpoint(eRender, eMultimedia, &device),
                  "deviceEnum->GetDefaultAudioEndpoint( eRender, eMultimedia, &device )");
    m_nullDevice = IsNullAudioEndpoint(device.Get());
    m_audioCaptureClient = nullptr;
    m_audioClient = nullptr;
    ThrowIfFailed(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, &m_audioClient),
                  "device->Activate( __uuidof(IAudioClient), CLSCTX_ALL, nullptr, &m_audioClient )");

    WAVEFORMATEX* mixFormat = nullptr;
    const HRESULT hr = m_audioClient->GetMixFormat(&mixFormat);
    m_deviceFormat.reset(mixFormat);
    ThrowIfFailed(hr, "m_audioClient->GetMixFormat( m_deviceFormat.FreeAndGetAddr() )");
    // The process tree's client has no mix format of its own: it is opened in the device's.
    if (m_processTree != 0)
        m_audioClient = ActivateProcessLoopbackClient(m_processTree);

    const REFERENCE_TIME desiredDurationHns = HundredNanosecondsIn(Milliseconds(m_bufferDurationMs));
    ThrowIfFailed(m_audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                            desiredDurationHns, 0, m_deviceFormat.get(), nullptr),
                  "m_audioClient->Initialize( AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK, "
                  "desiredDurationHns, 0, m_deviceFormat.Get(), nullptr )");
    ThrowIfFailed(m_audioClient->GetService(IID_PPV_ARGS(&m_audioCaptureClient)),
                  "m_audioClient->GetService( IID_PPV_ARGS( &m_audioCaptureClient ) )");
    UINT32 bufferFrameCount = 0;
    ThrowIfFailed(m_audioClient->GetBufferSize(&bufferFrameCount),
                  "m_audioClient->GetBufferSize( &bufferFrameCount )");

    const WAVEFORMATEX& format = *m_deviceFormat;
    const pyx::HundredNanoseconds bufferDuration =
        pyx::FramesDuration(bufferFrameCount, format.nSamplesPerSec);
    // Half the granted buffer, and never a busy loop.
    m_pollIntervalMs = std::max(1, static_cast<std::int32_t>(Milliseconds(bufferDuration).count() * 0.5));
    m_bufferDuration = static_cast<std::uint64_t>(bufferDuration.count());
    m_bytesPerFrame = std::uint32_t{format.wBitsPerSample} * format.nChannels / 8;

    // The stream's type is fixed once it is in the topology.
    if (!m_mediaType) {
        ComPtr<IMFMediaType> type;
        ThrowIfFailed(MFCreateMediaType(&type), "MFCreateMediaType( &m_mediaType )");
        ThrowIfFailed(type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio),
                      "m_mediaType->SetGUID( MF_MT_MAJOR_TYPE, MFMediaType_Audio )");
        ThrowIfFailed(type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_Float),
                      "m_mediaType->SetGUID( MF_MT_SUBTYPE, MFAudioFormat_Float )");
        ThrowIfFailed(
            type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, format.wBitsPerSample),
            "m_mediaType->SetUINT32( MF_MT_AUDIO_BITS_PER_SAMPLE, m_deviceFormat->wBitsPerSample )");
        ThrowIfFailed(
            type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, format.nSamplesPerSec),
            "m_mediaType->SetUINT32( MF_MT_AUDIO_SAMPLES_PER_SECOND, m_deviceFormat->nSamplesPerSec )");
        ThrowIfFailed(type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, format.nChannels),
                      "m_mediaType->SetUINT32( MF_MT_AUDIO_NUM_CHANNELS, m_deviceFormat->nChannels )");
        ThrowIfFailed(type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, format.nBlockAlign),
                      "m_mediaType->SetUINT32( MF_MT_AUDIO_BLOCK_ALIGNMENT, m_deviceFormat->nBlockAlign )");
        ThrowIfFailed(
            type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, format.nAvgBytesPerSec),
            "m_mediaType->SetUINT32( MF_MT_AUDIO_AVG_BYTES_PER_SECOND, m_deviceFormat->nAvgBytesPerSec "
            ")");
        ThrowIfFailed(type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1),
                      "m_mediaType->SetUINT32( MF_MT_ALL_SAMPLES_INDEPENDENT, 1 )");
        m_mediaType = type;
    }
    LogInfo("Audio capture initialized");
}

void AudioCapturePipeline::CreateResampler() {
    const ComPtr<IMFMediaType> output = MakePcmOutputType();
    ThrowIfFailed(CoCreateInstance(CLSID_AudioResamplerMediaObject, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IMFTransform, &m_resampler),
                  "CoCreateInstance( CLSID_AudioResamplerMediaObject, nullptr, CLSCTX_INPROC_SERVER, "
                  "IID_IMFTransform, &m_resampler )");
    ThrowIfFailed(m_resampler->SetInputType(0, m_mediaType.Get(), 0),
                  "m_resampler->SetInputType( 0, m_mediaType.Get(), 0 )");
    ThrowIfFailed(m_resampler->SetOutputType(0, output.Get(), 0),
                  "m_resampler->SetOutputType( 0, outputType.Get(), 0 )");
}

void AudioCapturePipeline::AddToTopology(IMFTopology* topology, MediaSource* source) {
    ComPtr<MediaStream> stream;
    ThrowIfFailed(source->GetStream(m_streamIndex, &stream),
                  "source->GetStream( m_streamIndex, &m_mediaStream )");
    AddTopologyBranch(topology, source, m_streamIndex, {m_resampler.Get(), m_encoder.Get()},
                      m_sinkNode->StreamSink());
    m_mediaStream = stream;
}

void AudioCapturePipeline::Start(LONGLONG startTime) {
    m_startTime = startTime;
    m_coveredUntil = static_cast<std::uint64_t>(std::max<LONGLONG>(startTime, 0));
    m_stop = false;
    m_thread = std::thread(&AudioCapturePipeline::CaptureThread, this);
}

void AudioCapturePipeline::Stop() {
    m_stop = true;
    // Joined here rather than at destruction, so that no sample reaches a source that is being shut down.
    if (m_thread.joinable())
        m_thread.join();
}

void AudioCapturePipeline::CaptureThread() {
    try {
        if (FAILED(LOG_IF_FAILED(m_audioClient->Start())))
            Reinitialize();
        while (!m_stop) {
            Sleep(static_cast<DWORD>(m_pollIntervalMs));
            if (m_stop)
                break;
            WarnOfMissingServer();
            try {
                ReadPackets();
            } catch (const std::exception& e) {
                LogWarn("Audio capture failed: %s", e.what());
                Reinitialize();
            }
        }
        // The sound still waiting in the buffer is the recording's newest: up to a poll interval of it.
        try {
            if (m_audioCaptureClient)
                ReadPackets();
        } catch (const std::exception& e) {
            LogWarn("Audio capture failed at its stop: %s", e.what());
        }
    } catch (const std::exception& e) {
        LogError("Error in audio capture thread: %s", e.what());
    }
    if (m_audioClient)
        LOG_IF_FAILED(m_audioClient->Stop());
    LogInfo("Audio capture thread stopped");
}

// Said once per process, since every capture after a window change would repeat it, and only once the capture
// runs: while a capture starts, the recorder lets only errors through.
void AudioCapturePipeline::WarnOfMissingServer() const {
    static std::atomic<bool> warned{false};
    if (m_nullDevice && !warned.exchange(true))
        LogWarn("no sound server is reachable: recording silence until one appears");
}

void AudioCapturePipeline::ReadPackets() {
    UINT32 packetSize = 0;
    ThrowIfFailed(m_audioCaptureClient->GetNextPacketSize(&packetSize),
                  "m_audioCaptureClient->GetNextPacketSize( &packetSize )");
    const std::uint64_t now = static_cast<std::uint64_t>(pyx::CaptureTime().count());
    if (packetSize == 0) {
        // Silence stands in only for time no captured audio can cover any more: packets arrive up to a buffer
        // after they were recorded, and filling that time would push the sound behind the picture.
        const auto duration =
            static_cast<std::uint64_t>(HundredNanosecondsIn(Milliseconds(m_pollIntervalMs)));
        const std::uint64_t settled = now > m_bufferDuration ? now - m_bufferDuration : 0;
        if (m_silence != 0 && settled >= m_coveredUntil + duration) {
            const WAVEFORMATEX& format = *m_deviceFormat;
            std::uint32_t bytes =
                static_cast<std::uint32_t>(double(m_pollIntervalMs) / 1000 * format.nAvgBytesPerSec);
            // Whole frames only: the resampler refuses a partial one.
            bytes -= bytes % std::max<std::uint32_t>(1, format.nBlockAlign);
            // Right after the covered time, unless that lies further back than one interval.
            const std::uint64_t time = std::max(m_coveredUntil, settled - duration);
            m_dataCallback(nullptr, static_cast<std::int32_t>(bytes), time, duration,
                           AUDCLNT_BUFFERFLAGS_SILENT);
            m_coveredUntil = time + duration;
        }
        return;
    }
    while (packetSize != 0) {
        BYTE* data = nullptr;
        UINT32 numFramesAvailable = 0;
        DWORD flags = 0;
        UINT64 timestamp = 0;
        ThrowIfFailed(
            m_audioCaptureClient->GetBuffer(&data, &numFramesAvailable, &flags, nullptr, &timestamp),
            "m_audioCaptureClient->GetBuffer( &data, &numFramesAvailable, &flags, nullptr, "
            "&timestamp )");
        const std::uint64_t readTime = static_cast<std::uint64_t>(pyx::CaptureTime().count());
        const auto duration = static_cast<std::uint64_t>(
            pyx::FramesDuration(numFramesAvailable, m_deviceFormat->nSamplesPerSec).count());
        // When the packet's first frame was recorded, where the device says: packets read a buffer late would
        // otherwise lag the picture by that much.
        const std::uint64_t time = timestamp != 0 && timestamp <= readTime ? timestamp : readTime;
        m_dataCallback(data, static_cast<std::int32_t>(numFramesAvailable * m_bytesPerFrame), time, duration,
                       flags);
        m_coveredUntil = std::max(m_coveredUntil, time) + duration;
        ThrowIfFailed(m_audioCaptureClient->ReleaseBuffer(numFramesAvailable),
                      "m_audioCaptureClient->ReleaseBuffer( numFramesAvailable )");
        ThrowIfFailed(m_audioCaptureClient->GetNextPacketSize(&packetSize),
                      "m_audioCaptureClient->GetNextPacketSize( &packetSize )");
    }
}

void AudioCapturePipeline::Reinitialize() {
    LogInfo("Attempting to reinitialize audio capture...");
    while (!m_stop) {
        try {
            InitializeDevice();
            ThrowIfFailed(m_audioClient->Start(), "m_audioClient->Start()");
            return;
        } catch (const std::exception& e) {
            LogWarn("Audio capture reinitialization failed: %s", e.what());
        }
        Sleep(ReinitializeDelayMs);
    }
}

void AudioCapturePipeline::OnAudioData(const BYTE* data, std::int32_t size, std::uint64_t time,
                                       std::uint64_t duration, std::uint32_t flags) {
    if (!m_mediaStream || size < 0)
        return;
    const auto length = static_cast<DWORD>(size);
    ComPtr<IMFMediaBuffer> buffer;
    ThrowIfFailed(MFCreateAlignedMemoryBuffer(length, MF_16_BYTE_ALIGNMENT, &buffer),
                  "MFCreateAlignedMemoryBuffer( size, 0x03, &buffer )");
    BYTE* lockedBuf = nullptr;
    DWORD maxLen = 0;
    DWORD curLen = 0;
    ThrowIfFailed(buffer->Lock(&lockedBuf, &maxLen, &curLen),
                  "m_buffer->Lock( &m_lockedBuf, &m_maxLen, &m_curLen )");
    if ((flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || data == nullptr) {
        std::memset(lockedBuf, 0, maxLen);
    } else {
        BoundedWriter writer(lockedBuf, maxLen);
        writer.Write(data, length);
    }
    ThrowIfFailed(buffer->Unlock(), "m_buffer->Unlock()");
    ThrowIfFailed(buffer->SetCurrentLength(length), "buffer->SetCurrentLength( size )");
    ComPtr<IMFSample> sample;
    ThrowIfFailed(MFCreateSample(&sample), "MFCreateSample( &sample )");
    ThrowIfFailed(sample->AddBuffer(buffer.Get()), "sample->AddBuffer( buffer.Get() )");
    ThrowIfFailed(sample->SetSampleTime(static_cast<LONGLONG>(time) - m_startTime),
                  "sample->SetSampleTime( timestampHns )");
    ThrowIfFailed(sample->SetSampleDuration(static_cast<LONGLONG>(duration)),
                  "sample->SetSampleDuration( durationHns )");
    if ((flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0)
        ThrowIfFailed(sample->SetUINT32(MFSampleExtension_Discontinuity, 1),
                      "sample->SetUINT32( MFSampleExtension_Discontinuity, 1 )");
    ThrowIfFailed(m_mediaStream->QueueSample(sample.Get()), "m_mediaStream->QueueSample( sample.Get() )");
}
