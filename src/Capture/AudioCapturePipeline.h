#pragma once
// The audio branch of a capture: what the default playback device plays (or, in application mode, only what
// the target process tree plays on it), read in shared loopback mode on a capture thread and queued as float
// samples on the media source's audio stream, then resampled to 48 kHz stereo PCM and encoded. While nothing
// plays it queues silence at the same pace, so the audio track has no holes and a recording of a silent
// system still starts. A device that fails is opened again every second.

#include "CaptureOptions.h"
#include "Media/MediaSource.h"
#include "SinkNodeHolder.h"
#include <audioclient.h>
#include <mfidl.h>
#include <mftransform.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class AudioCapturePipeline {
public:
    // One delivery of the capture thread: data (null for silence), bytes, time and duration in 100-ns units,
    // AUDCLNT_BUFFERFLAGS_* flags.
    using DataCallback = std::function<void(const BYTE* data, std::int32_t size, std::uint64_t time,
                                            std::uint64_t duration, std::uint32_t flags)>;

    // Opens the default playback device (and the process tree's loopback in application mode) and builds the
    // resampler and encoder; throws ComException or std::runtime_error.
    AudioCapturePipeline(const CaptureOptions& options, GenericGrabberSinkCallback::Function sinkFunction,
                         DWORD streamIndex);
    ~AudioCapturePipeline();
    AudioCapturePipeline(const AudioCapturePipeline&) = delete;
    AudioCapturePipeline& operator=(const AudioCapturePipeline&) = delete;

    void AddToTopology(IMFTopology* topology, MediaSource* source);
    // Sample times count from startTime (100-ns units of the capture clock).
    void Start(LONGLONG startTime);
    // Ends the capture thread; no sample is queued after it returns.
    void Stop();

    // The captured format, the type of the source's audio stream.
    IMFMediaType* MediaType() const { return m_mediaType.Get(); }
    // The encoder's output type.
    IMFMediaType* OutputType() const { return m_sinkNode->MediaType(); }
    const EncoderDescription& Encoder() const { return m_encoderDescription; }

private:
    struct TaskMemFree {
        void operator()(WAVEFORMATEX* format) const;
    };

    void InitializeDevice();
    void CreateResampler();
    void CaptureThread();
    void WarnOfMissingServer() const;
    void ReadPackets();
    void Reinitialize();
    void OnAudioData(const BYTE* data, std::int32_t size, std::uint64_t time, std::uint64_t duration,
                     std::uint32_t flags);

    DataCallback m_dataCallback;
    double m_bufferDurationMs;
    std::uint32_t m_silence;
    // The root of the recorded process tree; 0 for the whole output.
    std::uint32_t m_processTree;
    ComPtr<IAudioClient> m_audioClient;
    ComPtr<IAudioCaptureClient> m_audioCaptureClient;
    ComPtr<IMFMediaType> m_mediaType;
    std::unique_ptr<WAVEFORMATEX, TaskMemFree> m_deviceFormat;
    std::thread m_thread;
    std::int32_t m_pollIntervalMs = 0;
    // The granted buffer, in 100-ns units: the longest a packet may wait to be read.
    std::uint64_t m_bufferDuration = 0;
    // End of the captured or silent audio delivered so far, in 100-ns units of the capture clock: when it was
    // recorded, not when it was read.
    std::uint64_t m_coveredUntil = 0;
    std::uint32_t m_bytesPerFrame = 0;
    std::atomic<bool> m_stop{false};
    bool m_nullDevice = false; // the stand-in for a missing sound server
    ComPtr<IMFTransform> m_resampler;
    ComPtr<IMFTransform> m_encoder;
    EncoderDescription m_encoderDescription;
    std::unique_ptr<SinkNodeHolder> m_sinkNode;
    ComPtr<MediaStream> m_mediaStream;
    LONGLONG m_startTime = 0;
    DWORD m_streamIndex;
};
