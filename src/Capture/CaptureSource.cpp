#include "CaptureSource.h"

#include "D3DUtil.h"
#include "Util/Assert.h"
#include "Util/HResultCheck.h"

#include <stdexcept>
#include <utility>

namespace {

constexpr std::int32_t DefaultFrameRate = 60;

// The source whose capture thread or frame callback the current thread is in.
thread_local const CaptureSource* t_callingSource = nullptr;

// Marks the current thread as inside `source` for a scope.
class CallingSourceScope {
public:
    explicit CallingSourceScope(const CaptureSource* source)
        : m_previous(std::exchange(t_callingSource, source)) {}
    ~CallingSourceScope() { t_callingSource = m_previous; }
    CallingSourceScope(const CallingSourceScope&) = delete;
    CallingSourceScope& operator=(const CallingSourceScope&) = delete;

private:
    const CaptureSource* m_previous;
};

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
    std::lock_guard lock(m_threadMutex);
    m_thread = std::thread([this] {
        const CallingSourceScope scope(this);
        Run();
    });
}

void CaptureSource::Stop() {
    m_stop.exchange(true);
    if (!InOwnCallback())
        JoinCaptureThread();
}

void CaptureSource::JoinCaptureThread() {
    PYX_ASSERT(!InOwnCallback());
    std::lock_guard lock(m_threadMutex);
    if (m_thread.joinable())
        m_thread.join();
}

bool CaptureSource::InOwnCallback() const { return t_callingSource == this; }

void CaptureSource::DeliverFrame(ID3D11Texture2D* texture, bool repeat) {
    if (repeat)
        ++m_framesRepeated;
    const CallingSourceScope scope(this);
    const DeviceLock lock(m_multithread.Get());
    m_frameCallback(texture, m_pacer.LastFiringTime(), m_pacer.Period());
}
