#pragma once
// One capture session: the video branch and the audio branch on the two streams of one media source, run by a
// media session whose grabber sinks hand every encoded packet to the packet handler, which writes the ring.
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
    // Builds the whole session; nothing runs yet. Throws std::exception naming the failed step.
    VideoCapture(HMONITOR monitor, HWND window);
    ~VideoCapture() override;
    VideoCapture(const VideoCapture&) = delete;
    VideoCapture& operator=(const VideoCapture&) = delete;

    void SetFrameObserver(FrameObserver observer) override;
    void Start(RingFile* ring, std::uint32_t baseTime) override;
    ComPtr<IMFMediaType> VideoOutputType() const override;
    ComPtr<IMFMediaType> AudioOutputType() const override;
    ID3D11Device* Device() const override;
    void Stop(std::uint32_t* latestEndTime) override;

    // Whether the captures of this process list the codec library's encoders first (the command line's
    // choice; off unless asked for).
    static void SetIncludeCustomCodecs(bool include);

private:
    void CreatePipelines();
    void CreateSession();

    // Balances the MFStartup of construction, also when construction throws.
    struct MediaFoundation {
        MediaFoundation();
        ~MediaFoundation();
    };

    MediaFoundation m_mediaFoundation;
    CaptureOptions m_options;
    ComPtr<IMFMediaSession> m_session;
    ComPtr<MediaSessionEventHandler> m_eventHandler;
    ComPtr<MediaSource> m_source;
    std::unique_ptr<VideoCapturePipeline> m_videoPipeline;
    std::unique_ptr<AudioCapturePipeline> m_audioPipeline;
    PacketHandler m_packetHandler;
    bool m_stopped = false;

    static std::atomic<bool> s_includeCustomCodecs;
};
