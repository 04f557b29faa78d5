#include <winrt/Windows.Graphics.Capture.h>

#include "FramePoolState.h"

#include <atomic>

struct Direct3D11CaptureFrame::Lease {
    std::shared_ptr<FramePoolState> pool;
    FrameSlot slot;
    std::atomic<bool> closed{false};

    void Close() {
        if (!closed.exchange(true))
            pool->ReturnFrame(slot.index);
    }
    ~Lease() { Close(); }
};

Direct3D11CaptureFrame::Direct3D11CaptureFrame(std::shared_ptr<FramePoolState> pool, const FrameSlot& slot)
    : m_lease(std::make_shared<Lease>()) {
    m_lease->pool = std::move(pool);
    m_lease->slot = slot;
}

ComPtr<IDirect3DSurface> Direct3D11CaptureFrame::Surface() const {
    return m_lease ? m_lease->slot.surface : nullptr;
}

SizeInt32 Direct3D11CaptureFrame::ContentSize() const {
    return m_lease ? m_lease->slot.contentSize : SizeInt32{};
}

std::int64_t Direct3D11CaptureFrame::SystemRelativeTime() const { return m_lease ? m_lease->slot.time : 0; }

void Direct3D11CaptureFrame::Close() const {
    if (m_lease)
        m_lease->Close();
}
