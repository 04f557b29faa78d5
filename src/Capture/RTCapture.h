#pragma once
// The capture source of one window or monitor through the graphics-capture classes. Frames arrive on the
// frame pool's thread; the capture thread sets the capture up, and while it waits for the stop it delivers
// the latest image again once nothing was delivered for RepeatInterval, or when the owner wants a frame by a
// time (DeliverBy), so an unchanging window still yields video, at a small fraction of the frame rate's cost:
// each repeat is converted and encoded like any frame. A frame of another size than the capture's stops the
// capture and tells the owner the new size through the size-change callback, as does a capture that fails
// (with the unchanged size), so the owner can start a new one.

#include "CaptureSource.h"
#include <winrt/Windows.Graphics.Capture.h>

#include <condition_variable>
#include <mutex>

class RTCapture : public CaptureSource {
public:
    // How long an unchanging image stands before it is delivered again (100-ns units). As long as the
    // pipeline's key-frame interval: a still window then costs one picture per key frame, which it needs
    // anyway.
    static constexpr std::int64_t RepeatInterval = 20'000'000;

    // Captures the monitor when one is set, else the window; throws ComException, or std::invalid_argument
    // when neither is set.
    explicit RTCapture(const CaptureSettings& settings);
    ~RTCapture() override;

    void Stop() override;
    void DeliverBy(std::int64_t time) override;

protected:
    void Run() override;

private:
    void RunCapture();
    void CloseCapture();
    void WaitForStop();
    void OnFrameArrived(const Direct3D11CaptureFramePool& sender);
    void TakeFrame(const Direct3D11CaptureFramePool& sender);
    // Delivers the latest frame when the pacer allows; called with m_deliveryMutex held.
    void DeliverLatest();
    // When the capture thread next has something to deliver: a frame the pacer held back, or a repeat.
    // Called with m_deliveryMutex held; monotonic nanoseconds.
    std::int64_t NextDelivery() const;
    void RequestStop();
    // Has the capture thread work out its next delivery again.
    void WakeCaptureThread();
    // Tells the owner, once, that the capture ends by itself at this size.
    void ReportEnd(SizeInt32 size);

    ComPtr<IDirect3DDevice> m_rtDevice;
    GraphicsCaptureItem m_item;
    Direct3D11CaptureFramePool m_framePool;
    GraphicsCaptureSession m_session;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::uint64_t m_wakeups = 0; // under m_mutex
    std::atomic<bool> m_endReported{false};

    // The newest frame, held until a newer one replaces it, and the pacer that both delivery paths share.
    std::mutex m_deliveryMutex;
    Direct3D11CaptureFrame m_latestFrame;
    ComPtr<ID3D11Texture2D> m_latestTexture;
    bool m_latestDelivered = false;
    std::int64_t m_lastDelivery = 0; // monotonic nanoseconds
};
