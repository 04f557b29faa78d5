#include "RTCapture.h"

#include "Util/ComException.h"
#include "Util/ErrorSink.h"
#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include <pyx/CaptureClock.h>
#include <winrt/Windows.Foundation.Metadata.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace {

constexpr wchar_t SessionType[] = L"Windows.Graphics.Capture.GraphicsCaptureSession";
constexpr std::int32_t PoolBuffers = 2;

std::int64_t NowNanoseconds() { return pyx::CaptureClock::now().time_since_epoch().count(); }

} // namespace

RTCapture::RTCapture(const CaptureSettings& settings) : CaptureSource(settings) {
    ComPtr<IDXGIDevice> dxgi;
    ThrowIfFailed(m_device->QueryInterface(IID_PPV_ARGS(&dxgi)), "device.As( &dxgi )");
    ComPtr<IUnknown> rtdevice;
    ThrowIfFailed(CreateDirect3D11DeviceFromDXGIDevice(dxgi.Get(), &rtdevice),
                  "CreateDirect3D11DeviceFromDXGIDevice( dxgi.Get(), rtdevice.put() )");
    ThrowIfFailed(rtdevice->QueryInterface(IID_PPV_ARGS(&m_rtDevice)), "rtdevice.As( &m_rtDevice )");

    const GraphicsCaptureItemInterop interop;
    if (m_hmon != nullptr) {
        LogInfo("Creating RT capture for monitor: %p", static_cast<void*>(m_hmon));
        ThrowIfFailed(interop.CreateForMonitor(m_hmon, &m_item),
                      "interop->CreateForMonitor( hmon, rt::guid_of<rt::IGraphicsCaptureItem>(), "
                      "rt::put_abi( capture ) )");
    } else if (m_hwnd != nullptr) {
        LogInfo("Creating RT capture for window: %p", static_cast<void*>(m_hwnd));
        ThrowIfFailed(interop.CreateForWindow(m_hwnd, &m_item),
                      "interop->CreateForWindow( hwnd, rt::guid_of<rt::IGraphicsCaptureItem>(), rt::put_abi( "
                      "capture ) )");
    } else {
        throw std::invalid_argument("RTCapture needs a monitor or a window");
    }
    m_width = m_item.Size().Width;
    m_height = m_item.Size().Height;
    m_item.Closed([](const GraphicsCaptureItem&) { LogInfo("RTCapture item closed"); });
}

RTCapture::~RTCapture() {
    RequestStop();
    JoinCaptureThread();
}

void RTCapture::Stop() {
    RequestStop();
    if (!InOwnCallback())
        JoinCaptureThread();
}

void RTCapture::DeliverBy(std::int64_t time) {
    CaptureSource::DeliverBy(time);
    WakeCaptureThread();
}

void RTCapture::WakeCaptureThread() {
    {
        std::lock_guard lock(m_mutex);
        ++m_wakeups;
    }
    m_wake.notify_all();
}

void RTCapture::RequestStop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop.exchange(true);
    }
    m_wake.notify_all();
}

void RTCapture::Run() {
    bool failed = true;
    try {
        RunCapture();
        failed = false;
    } catch (const ComException& e) {
        e.Log();
        ErrorSink::report(0, e.Error(), "Error capturing from RTCapture: %s", e.what());
    } catch (const std::exception& e) {
        LogError("Error capturing from RTCapture: %s", e.what());
        ErrorSink::reportFailure(1, "Error capturing from RTCapture: %s", e.what());
    }
    // Also after a failure: the pool's thread must not call into a capture that is going away.
    CloseCapture();
    if (failed)
        ReportEnd(SizeInt32{m_width, m_height});
}

void RTCapture::ReportEnd(SizeInt32 size) {
    if (!m_endReported.exchange(true) && m_sizeChangeCallback)
        m_sizeChangeCallback(size.Width, size.Height);
}

void RTCapture::RunCapture() {
    ThrowIfFailed(Direct3D11CaptureFramePool::CreateFreeThreaded(m_rtDevice.Get(),
                                                                 DirectXPixelFormat::B8G8R8A8UIntNormalized,
                                                                 PoolBuffers, m_item.Size(), &m_framePool),
                  "Direct3D11CaptureFramePool::CreateFreeThreaded( rtdevice, "
                  "DirectXPixelFormat::B8G8R8A8UIntNormalized, 2, size )");
    m_framePool.FrameArrived([this](const Direct3D11CaptureFramePool& sender) { OnFrameArrived(sender); });
    ThrowIfFailed(m_framePool.CreateCaptureSession(m_item, &m_session),
                  "m_framePool.CreateCaptureSession( m_item )");
    if (ApiInformation::IsPropertyPresent(SessionType, L"IsCursorCaptureEnabled"))
        m_session.IsCursorCaptureEnabled(m_hideCursor == 0);
    if (ApiInformation::IsPropertyPresent(SessionType, L"IsBorderRequired"))
        m_session.IsBorderRequired(m_noBorder == 0);
    ThrowIfFailed(m_session.StartCapture(), "m_session.StartCapture()");
    WaitForStop();
}

void RTCapture::WaitForStop() {
    // The two locks are never held together here: the pool's thread takes the stop lock under the delivery
    // lock when the owner's callback stops the source.
    while (!m_stop.load()) {
        std::uint64_t seen;
        {
            std::lock_guard lock(m_mutex);
            seen = m_wakeups;
        }
        std::int64_t waitNs;
        {
            std::lock_guard delivery(m_deliveryMutex);
            waitNs = NextDelivery() - NowNanoseconds();
        }
        // A wake-up since `seen` means the next delivery may have moved closer.
        if (waitNs > 0) {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::nanoseconds(waitNs),
                            [&] { return m_stop.load() || m_wakeups != seen; });
            if (m_stop.load())
                break;
        }
        std::lock_guard delivery(m_deliveryMutex);
        DeliverLatest();
    }
}

void RTCapture::CloseCapture() {
    m_session.Close();
    m_framePool.Close();
    std::lock_guard delivery(m_deliveryMutex);
    m_latestTexture = nullptr;
    m_latestFrame.Close();
    m_latestFrame = nullptr;
}

void RTCapture::OnFrameArrived(const Direct3D11CaptureFramePool& sender) {
    try {
        TakeFrame(sender);
        if (!m_stop.load())
            return;
    } catch (const ComException& e) {
        e.Log();
        ErrorSink::report(0, e.Error(), "Error during capture from RTCapture: %s", e.what());
    } catch (const std::exception& e) {
        LogError("Error during capture from RTCapture: %s", e.what());
        ErrorSink::reportFailure(1, "Error during capture from RTCapture: %s", e.what());
    }
    // Unless the owner asked for the stop, the capture ends by itself.
    if (!m_stop.load())
        ReportEnd(SizeInt32{m_width, m_height});
    RequestStop();
}

void RTCapture::TakeFrame(const Direct3D11CaptureFramePool& sender) {
    Direct3D11CaptureFrame frame;
    ThrowIfFailed(sender.TryGetNextFrame(&frame), "sender.TryGetNextFrame()");
    if (!frame)
        return;
    ComPtr<IDirect3DDxgiInterfaceAccess> access;
    ThrowIfFailed(frame.Surface()->QueryInterface(IID_PPV_ARGS(&access)),
                  "frame.Surface().as<IDirect3DDxgiInterfaceAccess>()");
    ComPtr<ID3D11Texture2D> texture;
    ThrowIfFailed(access->GetInterface(IID_PPV_ARGS(&texture)),
                  "access->GetInterface( IID_PPV_ARGS( &texture ) )");
    // A resized item would be cut to the pool's textures, or leave stale pixels around it: the owner
    // restarts the capture at the new size instead.
    const SizeInt32 content = frame.ContentSize();
    if (content.Width != m_width || content.Height != m_height) {
        frame.Close();
        LogInfo("RTCapture - Stopping capture from size change");
        ReportEnd(content);
        RequestStop();
        return;
    }

    std::lock_guard delivery(m_deliveryMutex);
    m_latestFrame.Close();
    m_latestFrame = frame;
    m_latestTexture = texture;
    m_latestDelivered = false;
    DeliverLatest();
    // Held back by the pacer: the capture thread delivers it, and may be waiting for a later repeat.
    if (!m_latestDelivered)
        WakeCaptureThread();
}

std::int64_t RTCapture::NextDelivery() const {
    const std::int64_t period = m_pacer.Period() * 100;
    const std::int64_t firing = m_pacer.NextFiring();
    if (!m_latestTexture)
        return NowNanoseconds() + period;
    if (!m_latestDelivered)
        return firing; // 0 before the first delivery: at once
    const std::int64_t deliverBy = m_deliverBy.load();
    const std::int64_t wanted = deliverBy < INT64_MAX / 100 ? deliverBy * 100 : INT64_MAX;
    return std::max(firing, std::min(m_lastDelivery + RepeatInterval * 100, wanted));
}

void RTCapture::DeliverLatest() {
    const std::int64_t now = NowNanoseconds();
    if (!m_latestTexture || now < NextDelivery() || !m_pacer.Tick())
        return;
    const bool repeat = m_latestDelivered;
    m_latestDelivered = true;
    m_lastDelivery = now;
    DeliverFrame(m_latestTexture.Get(), repeat);
}
