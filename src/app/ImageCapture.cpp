#include "ImageCapture.h"

#include "Capture/RTCapture.h"

namespace {

constexpr std::int32_t FrameRate = 60;

} // namespace

// The capture sources report through the error sink; for still images their reports carry nothing to act on.
ImageCapture::ImageCapture() : m_errorSlot([](int, std::uint32_t, HRESULT, const char*) {}) {
    ErrorSink::install(&m_errorSlot);
}

ImageCapture::~ImageCapture() { Stop(); }

void ImageCapture::Start(HWND window, FrameObserver observer) {
    m_stopped = false;
    m_interruption = CaptureInterruption::None;
    if (m_source) {
        m_source->Stop();
        m_source.reset();
    }
    CaptureSettings settings;
    settings.hwnd = window;
    settings.frameRate = FrameRate;
    settings.frameCallback = [this, observer = std::move(observer)](ID3D11Texture2D* texture, std::int64_t,
                                                                    std::int64_t) {
        if (!m_stopped && observer)
            observer(m_device.Get(), texture);
    };
    // Runs on the source's threads, which Stop joins before the source goes.
    settings.sizeChangeCallback = [this](std::int32_t width, std::int32_t height) {
        const bool resized = width != m_source->Width() || height != m_source->Height();
        m_interruption = resized ? CaptureInterruption::SizeChanged : CaptureInterruption::Failed;
    };
    m_source = std::make_unique<RTCapture>(settings);
    m_device = m_source->Device();
    m_source->Start();
}

void ImageCapture::Stop() {
    m_stopped = true;
    if (m_source)
        m_source->Stop();
}
