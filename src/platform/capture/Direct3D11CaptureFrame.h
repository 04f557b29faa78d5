#pragma once
// One captured frame: a pool texture lent to the caller until Close (or until the last copy is gone).

#include "CaptureTypes.h"
#include "Direct3D11Interop.h"

#include <memory>

class FramePoolState;
struct FrameSlot;

class Direct3D11CaptureFrame {
public:
    Direct3D11CaptureFrame() = default;
    Direct3D11CaptureFrame(std::nullptr_t) {}
    explicit operator bool() const { return m_lease != nullptr; }

    ComPtr<IDirect3DSurface> Surface() const;
    SizeInt32 ContentSize() const;
    // When the frame was captured, in 100-ns units of the monotonic clock.
    std::int64_t SystemRelativeTime() const;
    // Gives the texture back to the pool; later calls do nothing.
    void Close() const;

private:
    friend class Direct3D11CaptureFramePool;
    struct Lease;
    Direct3D11CaptureFrame(std::shared_ptr<FramePoolState> pool, const FrameSlot& slot);

    std::shared_ptr<Lease> m_lease;
};
