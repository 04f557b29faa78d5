#pragma once
// One capture session: the video branch and the audio branch (unless no audio is recorded) on the streams of
// one media source, run by a media session whose grabber sinks hand every encoded packet to the packet
// handler, which writes the ring.
// Not restartable: a new target or size is a new VideoCapture, started where the previous one ended.

#include "AudioCapturePipeline.h"
#include "CaptureOptions.h"
#include "Media/MediaSessionEventHandler.h"
#include "Media/MediaSource.h"
#include "PacketHandler.h"
#include "VideoCaptureControl.h"
#include "VideoCapturePipeline.h"

#include <atomic>
#include <memory>

class VideoCapture final : public IVideoCapture {
public:
    // Builds the whole session; nothing runs yet. With a frame size the video is encoded at that size, the
    // captured picture fitted inside it. The video encoder is found through `enumerateTransforms`. Throws
    // std::exception naming the failed step.
    VideoCapture(HMONITOR monitor, HWND window, FrameSize frameSize = {}, const CaptureChoices& choices = {},
                 TransformEnumerator enumerateTransforms = MFTEnumEx);
    ~VideoCapture() override;
    VideoCapture(const VideoCapture&) = delete;
    VideoCapture& operator=(const VideoCapture&) = delete;

    void SetFrameObserver(FrameObserver observer) override;
    void Start(RingFile* ring, std::uint32_t baseTime) override;
    ComPtr<IMFMediaType> VideoOutputType() const override;
    ComPtr<IMFMediaType> AudioOutputType() const override;
    ID3D11Device* Device() const override;
    CaptureInterruption Interruption() const override { return m_interruption->load(); }
    CaptureReport Report() const override;
    void Stop(std::uint32_t* latestEndTime) override;

private:
    using InterruptionState = std::atomic<CaptureInterruption>;
    // Keeps the first interruption; shared with callbacks that may run on after this object is gone.
    static void Interrupt(InterruptionState& state, CaptureInterruption interruption);
    void OnCaptureSizeChange(std::int32_t width, std::int32_t height);

    void CreatePipelines();
    void CreateSession();

    // Balances the MFStartup of construction, also when construction throws.
    struct MediaFoundation {
        MediaFoundation();
        ~MediaFoundation();
    };

    MediaFoundation m_mediaFoundation;
    const std::shared_ptr<InterruptionState> m_interruption =
        std::make_shared<InterruptionState>(CaptureInterruption::None);
    CaptureOptions m_options;
    ComPtr<IMFMediaSession> m_session;
    ComPtr<MediaSessionEventHandler> m_eventHandler;
    ComPtr<MediaSource> m_source;
    std::unique_ptr<VideoCapturePipeline> m_videoPipeline;
    std::unique_ptr<AudioCapturePipeline> m_audioPipeline; // null without audio
    PacketHandler m_packetHandler;
    bool m_stopped = false;
    LONGLONG m_startTime = -1; // 100-ns units of the capture clock, once started
};
