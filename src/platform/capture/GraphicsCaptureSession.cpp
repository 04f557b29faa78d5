#include <winrt/Windows.Graphics.Capture.h>

#include "FramePoolState.h"
#include "platform/x11/CaptureExtensions.h"

#include <mutex>

struct GraphicsCaptureSession::State {
    std::shared_ptr<FramePoolOwner> pool;
    GraphicsCaptureItem item;
    std::shared_ptr<std::atomic<bool>> cursorEnabled = std::make_shared<std::atomic<bool>>(true);
    std::atomic<bool> borderRequired{true};
    std::mutex mutex;
    bool started = false;
    bool closed = false;
};

GraphicsCaptureSession::GraphicsCaptureSession(std::shared_ptr<FramePoolOwner> pool, GraphicsCaptureItem item)
    : m_state(std::make_shared<State>()) {
    m_state->pool = std::move(pool);
    m_state->item = std::move(item);
}

bool GraphicsCaptureSession::IsSupported() { return x11::QueryCaptureExtensions().AllPresent(); }

bool GraphicsCaptureSession::IsCursorCaptureEnabled() const {
    return m_state && m_state->cursorEnabled->load();
}

void GraphicsCaptureSession::IsCursorCaptureEnabled(bool value) const {
    if (m_state)
        m_state->cursorEnabled->store(value);
}

bool GraphicsCaptureSession::IsBorderRequired() const { return m_state && m_state->borderRequired.load(); }

void GraphicsCaptureSession::IsBorderRequired(bool value) const {
    if (m_state)
        m_state->borderRequired.store(value);
}

HRESULT GraphicsCaptureSession::StartCapture() const {
    if (!m_state)
        return RO_E_CLOSED;
    std::lock_guard lock(m_state->mutex);
    if (m_state->closed)
        return RO_E_CLOSED;
    if (m_state->started)
        return E_ILLEGAL_METHOD_CALL;
    const HRESULT hr = m_state->pool->state->StartProducing(m_state->item, m_state->cursorEnabled);
    m_state->started = SUCCEEDED(hr);
    return hr;
}

void GraphicsCaptureSession::Close() const {
    if (!m_state)
        return;
    std::lock_guard lock(m_state->mutex);
    if (m_state->closed)
        return;
    m_state->closed = true;
    if (m_state->started)
        m_state->pool->state->StopProducing();
}
