#pragma once
// A capture of one item into one frame pool. Windows are captured without a border; the pointer is drawn in
// unless IsCursorCaptureEnabled is switched off (it may change while capturing).

#include "CaptureTypes.h"
#include "GraphicsCaptureItem.h"

#include <atomic>
#include <memory>

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
