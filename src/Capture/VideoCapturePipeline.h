#pragma once
// The video branch of a capture: the capture source of the window (or monitor), a sample allocator that
// copies each captured texture into a pooled one, the video processor that converts and scales it, and the
// encoder. Each frame becomes a numbered sample timed from the capture's start and queued on the source's
// video stream.

#include "Capture/VideoCaptureControl.h"
#include "CaptureOptions.h"
#include "CaptureSource.h"
#include "D3DSampleAllocator.h"
#include "EncoderSelection.h"
#include "Media/MediaSource.h"
#include "SinkNodeHolder.h"
#include <codecapi.h>
#include <mfidl.h>
#include <mftransform.h>

#include <memory>
#include <mutex>

struct OutputSize {
    UINT32 width = 0;
    UINT32 height = 0;
};
// A picture size fitted inside a bound: itself when it fits, otherwise scaled down with its aspect kept; both
// dimensions even, as the encoders need.
OutputSize FitInside(UINT32 width, UINT32 height, UINT32 boundWidth, UINT32 boundHeight);
// The encoded size for a captured size: the fixed output size when there is one, the captured size itself
// when it is kept, otherwise the captured size fitted inside the output size.
OutputSize ChooseOutputSize(UINT32 captureWidth, UINT32 captureHeight, const CaptureOptions& options);

class VideoCapturePipeline {
public:
    // Throws ComException, or std::runtime_error when no encoder fits.
    VideoCapturePipeline(const CaptureOptions& options, GenericGrabberSinkCallback::Function sinkFunction,
                         DWORD streamIndex, float bitrateShare);
    ~VideoCapturePipeline();
    VideoCapturePipeline(const VideoCapturePipeline&) = delete;
    VideoCapturePipeline& operator=(const VideoCapturePipeline&) = delete;

    void AddToTopology(IMFTopology* topology, MediaSource* source);
    // Sample times count from startTime (100-ns units of the capture clock).
    void Start(LONGLONG startTime);
    // Joins the capture thread: no frame is handled after it returns.
    void Stop();

    void SetFrameObserver(FrameObserver observer);
    // Makes the encoder's next frame a key frame; safe on any thread.
    void RequestKeyFrame();
    // Has the capture deliver a frame now, also of a still window; false when the capture no longer runs.
    bool DeliverNow();

    // The type of the source's video stream: the captured frames.
    IMFMediaType* SourceMediaType() const { return m_sourceMediaType.Get(); }
    // The encoder's output type.
    IMFMediaType* OutputType() const { return m_sinkNode->MediaType(); }
    ID3D11Device* Device() const { return m_capture->Device(); }
    // The size the capture source started at.
    std::int32_t CaptureWidth() const { return m_capture->Width(); }
    std::int32_t CaptureHeight() const { return m_capture->Height(); }
    const EncoderDescription& Encoder() const { return m_encoderDescription; }
    std::uint64_t FramesRepeated() const { return m_capture->FramesRepeated(); }
    std::uint64_t FramesDropped() const { return m_mediaStream ? m_mediaStream->DroppedSamples() : 0; }

private:
    void CreateSourceMediaType(const CaptureOptions& options);
    ComPtr<IMFMediaType> CreateVideoProcessor(const CaptureOptions& options, const GUID& encoderInput,
                                              UINT32 captureWidth, UINT32 captureHeight);
    void ApplyEncoderSettings(const EncoderInfo& encoder, const CaptureOptions& options);
    // Sets one encoder property through ICodecAPI.
    HRESULT SetCodecValue(const GUID& api, VARTYPE type, UINT32 value);
    void FrameHandler(ID3D11Texture2D* texture, std::int64_t time, std::int64_t duration);
    // Keeps key frames at most the GOP's duration apart, however few frames come.
    void MarkKeyFrame(IMFSample* sample, LONGLONG time, LONGLONG period);

    std::unique_ptr<CaptureSource> m_capture;
    ComPtr<D3DSampleAllocator> m_sampleAllocator;
    ComPtr<IMFMediaType> m_sourceMediaType;
    ComPtr<IMFDXGIDeviceManager> m_deviceManager;
    UINT m_deviceResetToken = 0;
    ComPtr<IMFTransform> m_videoProcessor;
    ComPtr<IMFTransform> m_encoder;
    ComPtr<ICodecAPI> m_codecAPI;
    std::unique_ptr<SinkNodeHolder> m_sinkNode;
    ComPtr<MediaStream> m_mediaStream;
    std::mutex m_observerMutex;
    FrameObserver m_frameObserver;
    LONGLONG m_startTime = 0;
    UINT32 m_frame = 0;
    LONGLONG m_keyInterval = 0; // 100-ns units; 0: only the first frame must be a key frame
    LONGLONG m_lastKeyTime = 0;
    VideoCodecKind m_codecKind = VideoCodecKind::H264;
    EncoderDescription m_encoderDescription;
    DWORD m_streamIndex;
    float m_bitrateShare;
};
