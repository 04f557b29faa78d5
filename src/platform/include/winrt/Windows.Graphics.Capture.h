#pragma once
// Value types of the graphics-capture classes.

#include <minwindef.h>
#include <windows.graphics.directx.direct3d11.interop.h>
#include <winuser.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>

struct SizeInt32 {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

// Identifies one registered event handler; 0 is no handler.
struct EventToken {
    std::int64_t value = 0;
};

enum class DirectXPixelFormat : std::int32_t {
    Unknown = 0,
    B8G8R8A8UIntNormalized = 87,
};

// The runtime's results for calls on a closed object and for calls the object's state does not allow.
constexpr HRESULT RO_E_CLOSED = MakeHResult(0x80000013);
constexpr HRESULT E_ILLEGAL_METHOD_CALL = MakeHResult(0x8000000E);

// What a capture records: one window or one monitor. A reference type: copies share one item.

class GraphicsCaptureItem {
public:
    GraphicsCaptureItem() = default;
    GraphicsCaptureItem(std::nullptr_t) {}
    explicit operator bool() const { return m_state != nullptr; }

    SizeInt32 Size() const;
    std::wstring DisplayName() const;
    // Called once, on a capture thread, when the window is destroyed, or the monitor changes or goes away,
    // while a capture of it runs.
    EventToken Closed(std::function<void(const GraphicsCaptureItem& sender)> handler) const;
    void Closed(EventToken token) const;

    // The target, for the capture that reads it.
    bool IsWindow() const;
    std::uint32_t TargetId() const;
    void NotifyClosed() const;

private:
    friend class GraphicsCaptureItemInterop;
    struct State;
    explicit GraphicsCaptureItem(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    std::shared_ptr<State> m_state;
};

class GraphicsCaptureItemInterop {
public:
    // E_INVALIDARG (item cleared) for a window or monitor that does not exist.
    HRESULT CreateForWindow(HWND window, GraphicsCaptureItem* item) const;
    HRESULT CreateForMonitor(HMONITOR monitor, GraphicsCaptureItem* item) const;
};

// One captured frame: a pool texture lent to the caller until Close (or until the last copy is gone).

class FramePoolState;
struct FrameSlot;

class Direct3D11CaptureFrame {
public:
    Direct3D11CaptureFrame() = default;
    Direct3D11CaptureFrame(std::nullptr_t) {}
    explicit operator bool() const { return m_lease != nullptr; }

    ComPtr<IDirect3DSurface> Surface() const;
    SizeInt32 ContentSize() const;
    // When the frame was captured, in 100-ns units of the capture clock.
    std::int64_t SystemRelativeTime() const;
    // Gives the texture back to the pool; later calls do nothing.
    void Close() const;

private:
    friend class Direct3D11CaptureFramePool;
    struct Lease;
    Direct3D11CaptureFrame(std::shared_ptr<FramePoolState> pool, const FrameSlot& slot);

    std::shared_ptr<Lease> m_lease;
};

// A capture of one item into one frame pool. Windows are captured without a border; the pointer is drawn in
// unless IsCursorCaptureEnabled is switched off (it may change while capturing).

struct FramePoolOwner;

class GraphicsCaptureSession {
public:
    GraphicsCaptureSession() = default;
    GraphicsCaptureSession(std::nullptr_t) {}
    GraphicsCaptureSession(std::shared_ptr<FramePoolOwner> pool, GraphicsCaptureItem item);
    explicit operator bool() const { return m_state != nullptr; }

    // True where the X display offers Composite, DAMAGE and MIT-SHM.
    static bool IsSupported();

    bool IsCursorCaptureEnabled() const;
    void IsCursorCaptureEnabled(bool value) const;
    bool IsBorderRequired() const;
    void IsBorderRequired(bool value) const;

    // E_ILLEGAL_METHOD_CALL when already started, RO_E_CLOSED after Close.
    HRESULT StartCapture() const;
    void Close() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// A pool of textures that a capture session fills. Free-threaded: FrameArrived runs on the pool's own thread.
// A reference type; the pool closes with Close or when its last copy is gone.

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

// The access request of the graphics-capture service. Capture is allowed when the X display offers
// Composite, DAMAGE and MIT-SHM; the answer comes asynchronously, as on Windows.

enum class GraphicsCaptureAccessKind { Borderless = 0, Programmatic = 1 };

enum class AppCapabilityAccessStatus {
    DeniedBySystem = 0,
    NotDeclaredByApp = 1,
    DeniedByUser = 2,
    UserPromptRequired = 3,
    Allowed = 4,
};

class GraphicsCaptureAccess {
public:
    static std::future<AppCapabilityAccessStatus> RequestAccessAsync(GraphicsCaptureAccessKind kind);
};
