#pragma once
// The shared state of a frame pool: its textures with their states, the queue of finished frames, the
// FrameArrived handlers and the thread that fills the textures from the X display.

#include "HandlerList.h"
#include "platform/d3d/Texture2D.h"
#include "platform/x11/FrameSource.h"
#include <windows.graphics.directx.direct3d11.interop.h>
#include <winrt/Windows.Graphics.Capture.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Direct3D11CaptureFramePool;
class FramePoolState;
class FrameProducer;

// Held by the pool's handles: when the last one goes, the pool closes.
struct FramePoolOwner {
    std::shared_ptr<FramePoolState> state;
    ~FramePoolOwner();
};

struct FrameSlot {
    int index = -1;
    ComPtr<IDirect3DSurface> surface;
    SizeInt32 contentSize;
    std::int64_t time = 0; // 100-ns units of the capture clock
};

class FramePoolState : public std::enable_shared_from_this<FramePoolState> {
public:
    static HRESULT Create(ID3D11Device* device, DirectXPixelFormat format, std::int32_t bufferCount,
                          SizeInt32 size, std::shared_ptr<FramePoolState>& state);
    ~FramePoolState();

    void SetOwner(std::weak_ptr<FramePoolOwner> owner) { m_owner = std::move(owner); }
    HandlerList<const Direct3D11CaptureFramePool&>& ArrivalHandlers() { return m_arrivalHandlers; }

    // The oldest finished frame, now held by the caller; index -1 when there is none. RO_E_CLOSED once
    // closed.
    HRESULT TakeFrame(FrameSlot& slot);
    void ReturnFrame(int index);

    // Starts filling the textures from `source`, or without one from the item's window or monitor; the flag
    // is read at every grab.
    HRESULT StartProducing(const GraphicsCaptureItem& item, std::shared_ptr<std::atomic<bool>> cursorEnabled,
                           std::unique_ptr<x11::FrameSource> source = nullptr);
    void StopProducing();
    void Close();
    bool Closed() const;

private:
    enum class BufferState { Free, Writing, Ready, Held };
    struct Buffer {
        ComPtr<Texture2D> texture;
        ComPtr<IDirect3DSurface> surface;
        BufferState state = BufferState::Free;
        // The texture still holds the last frame written into it, so a grab may rewrite only what changed.
        bool kept = false;
        std::uint64_t serial = 0;
        SizeInt32 contentSize;
        std::int64_t time = 0;
    };
    FramePoolState() = default;
    int BeginWrite();
    void EndWrite(int index, x11::GrabResult result, SizeInt32 contentSize);
    void FireArrived();

    mutable std::mutex m_mutex;
    std::vector<Buffer> m_buffers;
    std::uint64_t m_lastSerial = 0;
    bool m_closed = false;
    HandlerList<const Direct3D11CaptureFramePool&> m_arrivalHandlers;
    std::weak_ptr<FramePoolOwner> m_owner;
    std::unique_ptr<FrameProducer> m_producer;
    std::mutex m_producerMutex;
};
