#include "CaptureSource.h"

#include "D3DUtil.h"
#include "Util/HResultCheck.h"

#include <stdexcept>

namespace {

constexpr std::int32_t DefaultFrameRate = 60;

} // namespace

CaptureSource::CaptureSource(const CaptureSettings& settings)
    : m_frameCallback(settings.frameCallback), m_sizeChangeCallback(settings.sizeChangeCallback),
      m_hmon(settings.hmon), m_hwnd(settings.hwnd),
      m_frameRate(settings.frameRate > 0 ? settings.frameRate : DefaultFrameRate),
      m_hideCursor(settings.hideCursor), m_noBorder(settings.noBorder), m_pacer(m_frameRate) {
    ThrowIfFailed(D3DUtil::CreateD3D11Device(&m_device, settings.hmon),
                  "D3DUtil::CreateD3D11Device( &m_device, settings.hmon )");
    ThrowIfFailed(m_device->QueryInterface(IID_PPV_ARGS(&m_multithread)), "m_device.As( &m_multithread )");
    m_multithread->SetMultithreadProtected(TRUE);
    m_device->GetImmediateContext(&m_context);
}

CaptureSource::~CaptureSource() {
    m_stop.exchange(true);
    JoinCaptureThread();
}

void CaptureSource::Start() {
    if (m_started.exchange(true))
        throw std::logic_error("capture source already started");
    m_thread = std::thread([this] { Run(); });
}

void CaptureSource::Stop() {
    m_stop.exchange(true);
    JoinCaptureThread();
}

void CaptureSource::JoinCaptureThread() {
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach();
    else
        m_thread.join();
}
