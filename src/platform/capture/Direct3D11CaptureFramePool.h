#pragma once
// A pool of textures that a capture session fills. Free-threaded: FrameArrived runs on the pool's own thread.
// A reference type; the pool closes with Close or when its last copy is gone.

#include "CaptureTypes.h"
#include "Direct3D11CaptureFrame.h"
#include "GraphicsCaptureSession.h"

#include <functional>
#include <memory>

struct FramePoolOwner;

class Direct3D11CaptureFramePool {
public:
    Direct3D11CaptureFramePool() = default;
    Direct3D11CaptureFramePool(std::nullptr_t) {}
    explicit Direct3D11CaptureFramePool(std::shared_ptr<FramePoolOwner> owner) : m_owner(std::move(owner)) {}
    explicit operator bool() const { return m_owner != nullptr; }

    // E_INVALIDARG for a device of another kind, a format other than B8G8R8A8, no buffers or an empty size.
    static HRESULT CreateFreeThreaded(IDirect3DDevice* device, DirectXPixelFormat pixelFormat,
                                      std::int32_t numberOfBuffers, SizeInt32 size,
                                      Direct3D11CaptureFramePool* pool);

    EventToken FrameArrived(std::function<void(const Direct3D11CaptureFramePool& sender)> handler) const;
    void FrameArrived(EventToken token) const;
    // The oldest captured frame not yet taken; an empty frame when there is none. RO_E_CLOSED once closed.
    HRESULT TryGetNextFrame(Direct3D11CaptureFrame* frame) const;
    HRESULT CreateCaptureSession(const GraphicsCaptureItem& item, GraphicsCaptureSession* session) const;
    // Stops capturing into the pool; no FrameArrived handler runs after it returns (unless called from one).
    void Close() const;

private:
    std::shared_ptr<FramePoolOwner> m_owner;
};
