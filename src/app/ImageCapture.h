#pragma once
// Window capture for still images only: a graphics-capture source whose frames go to an observer until Stop.

#include "Capture/VideoCaptureControl.h"
#include "Util/ErrorSink.h"

#include <atomic>
#include <memory>

class RTCapture;

class ImageCapture {
public:
    ImageCapture();
    ~ImageCapture();
    ImageCapture(const ImageCapture&) = delete;
    ImageCapture& operator=(const ImageCapture&) = delete;

    // Captures `window` at 60 frames/s, replacing any earlier source; throws std::exception.
    void Start(HWND window, FrameObserver observer);
    // Joins the source's threads; no observer call happens after it returns.
    void Stop();
    ID3D11Device* Device() const { return m_device.Get(); }
    // Set when the window's size changed or the source ended by itself since Start.
    CaptureInterruption Interruption() const { return m_interruption.load(); }

private:
    std::unique_ptr<RTCapture> m_source;
    ComPtr<ID3D11Device> m_device;
    ErrorSink::Slot m_errorSlot;
    std::atomic<bool> m_stopped{false};
    std::atomic<CaptureInterruption> m_interruption{CaptureInterruption::None};
};
