#include <winrt/Windows.Graphics.Capture.h>

#include "FramePoolState.h"

HRESULT Direct3D11CaptureFramePool::CreateFreeThreaded(IDirect3DDevice* device,
                                                       DirectXPixelFormat pixelFormat,
                                                       std::int32_t numberOfBuffers, SizeInt32 size,
                                                       Direct3D11CaptureFramePool* pool) {
    if (pool == nullptr)
        return E_POINTER;
    *pool = nullptr;
    ComPtr<IDirect3DDxgiInterfaceAccess> access;
    ComPtr<ID3D11Device> d3dDevice;
    if (device == nullptr || FAILED(device->QueryInterface(IID_PPV_ARGS(&access))) ||
        FAILED(access->GetInterface(IID_PPV_ARGS(&d3dDevice))))
        return E_INVALIDARG;
    std::shared_ptr<FramePoolState> state;
    const HRESULT hr = FramePoolState::Create(d3dDevice.Get(), pixelFormat, numberOfBuffers, size, state);
    if (FAILED(hr))
        return hr;
    auto owner = std::make_shared<FramePoolOwner>();
    owner->state = state;
    state->SetOwner(owner);
    *pool = Direct3D11CaptureFramePool(std::move(owner));
    return S_OK;
}

EventToken Direct3D11CaptureFramePool::FrameArrived(
    std::function<void(const Direct3D11CaptureFramePool&)> handler) const {
    return m_owner ? m_owner->state->ArrivalHandlers().Add(std::move(handler)) : EventToken{};
}

void Direct3D11CaptureFramePool::FrameArrived(EventToken token) const {
    if (m_owner)
        m_owner->state->ArrivalHandlers().Remove(token);
}

HRESULT Direct3D11CaptureFramePool::TryGetNextFrame(Direct3D11CaptureFrame* frame) const {
    if (frame == nullptr)
        return E_POINTER;
    *frame = nullptr;
    if (!m_owner)
        return RO_E_CLOSED;
    FrameSlot slot;
    const HRESULT hr = m_owner->state->TakeFrame(slot);
    if (SUCCEEDED(hr) && slot.index >= 0)
        *frame = Direct3D11CaptureFrame(m_owner->state, slot);
    return hr;
}

HRESULT Direct3D11CaptureFramePool::CreateCaptureSession(const GraphicsCaptureItem& item,
                                                         GraphicsCaptureSession* session) const {
    if (session == nullptr)
        return E_POINTER;
    *session = nullptr;
    if (!item)
        return E_INVALIDARG;
    if (!m_owner || m_owner->state->Closed())
        return RO_E_CLOSED;
    *session = GraphicsCaptureSession(m_owner, item);
    return S_OK;
}

void Direct3D11CaptureFramePool::Close() const {
    if (m_owner)
        m_owner->state->Close();
}
