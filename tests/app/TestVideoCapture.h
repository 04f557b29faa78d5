#pragma once
// A video capture for recorder tests: real H.264 and AAC packets from libavcodec, encoded in real time from a
// synthetic picture and a tone, written to the ring through the capture's packet handler. With a window, the
// window's own frames go to the frame observer, so still images show the window.
// PYX_TEST_CAPTURE_SILENT_MONITOR=1 makes a capture of the monitor write nothing.

#include "Capture/PacketHandler.h"
#include "Capture/VideoCaptureControl.h"
#include "TestEncoders.h"

#include <atomic>
#include <memory>
#include <thread>

class RTCapture;

class TestVideoCapture : public IVideoCapture {
public:
    // PYX_TEST_CAPTURE_VIDEO_TYPE=raw makes the video output type one the export cannot write.
    TestVideoCapture(HMONITOR monitor, HWND window);
    ~TestVideoCapture() override;

    void SetFrameObserver(FrameObserver observer) override { m_observer = std::move(observer); }
    void Start(RingFile* ring, std::uint32_t baseTime) override;
    ComPtr<IMFMediaType> VideoOutputType() const override { return m_videoType; }
    ComPtr<IMFMediaType> AudioOutputType() const override { return m_audioType; }
    ID3D11Device* Device() const override { return m_device.Get(); }
    CaptureInterruption Interruption() const override { return CaptureInterruption::None; }
    CaptureReport Report() const override;
    void Stop(std::uint32_t* latestEndTime) override;

private:
    void Encode();
    void Write(RingStreamKind kind, const std::vector<EncodedPacket>& packets);

    VideoSettings m_videoSettings;
    AudioSettings m_audioSettings;
    VideoEncoder m_videoEncoder;
    AudioEncoder m_audioEncoder;
    ComPtr<IMFMediaType> m_videoType;
    ComPtr<IMFMediaType> m_audioType;
    std::unique_ptr<RTCapture> m_source;
    ComPtr<ID3D11Device> m_device;
    FrameObserver m_observer;
    PacketHandler m_packetHandler;
    std::thread m_thread;
    std::atomic<LONGLONG> m_startTime{0}; // 100-ns units of the capture clock
    bool m_silent = false;
    std::atomic<bool> m_stop{false};
    bool m_stopped = false;
};
