#include "FramePoolState.h"

#include "FrameProducer.h"
#include <pyx/CaptureClock.h>
#include <winrt/Windows.Graphics.Capture.h>

FramePoolOwner::~FramePoolOwner() { state->Close(); }

HRESULT FramePoolState::Create(ID3D11Device* device, DirectXPixelFormat format, std::int32_t bufferCount,
                               SizeInt32 size, std::shared_ptr<FramePoolState>& state) {
    state.reset();
    if (device == nullptr || format != DirectXPixelFormat::B8G8R8A8UIntNormalized || bufferCount < 1 ||
        size.Width <= 0 || size.Height <= 0)
        return E_INVALIDARG;
    std::shared_ptr<FramePoolState> created(new FramePoolState());
    const CD3D11_TEXTURE2D_DESC desc(DXGI_FORMAT_B8G8R8A8_UNORM, static_cast<UINT>(size.Width),
                                     static_cast<UINT>(size.Height), 1, 1);
    created->m_buffers.resize(static_cast<std::size_t>(bufferCount));
    for (Buffer& buffer : created->m_buffers) {
        HRESULT hr =
            Texture2D::Create(device, desc, nullptr, buffer.texture, Texture2D::Backing::SharedMemory);
        if (SUCCEEDED(hr))
            hr = CreateDirect3D11SurfaceFromTexture(buffer.texture.Get(), &buffer.surface);
        if (FAILED(hr))
            return hr;
    }
    state = std::move(created);
    return S_OK;
}

FramePoolState::~FramePoolState() = default;

HRESULT FramePoolState::TakeFrame(FrameSlot& slot) {
    slot = FrameSlot{};
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return RO_E_CLOSED;
    Buffer* oldest = nullptr;
    for (Buffer& buffer : m_buffers)
        if (buffer.state == BufferState::Ready && (oldest == nullptr || buffer.serial < oldest->serial))
            oldest = &buffer;
    if (oldest == nullptr)
        return S_OK;
    oldest->state = BufferState::Held;
    slot.index = static_cast<int>(oldest - m_buffers.data());
    slot.surface = oldest->surface;
    slot.contentSize = oldest->contentSize;
    slot.time = oldest->time;
    return S_OK;
}

void FramePoolState::ReturnFrame(int index) {
    {
        std::lock_guard lock(m_mutex);
        if (index < 0 || static_cast<std::size_t>(index) >= m_buffers.size() ||
            m_buffers[index].state != BufferState::Held)
            return;
        m_buffers[index].state = BufferState::Free;
    }
    std::lock_guard lock(m_producerMutex);
    if (m_producer)
        m_producer->Wake();
}

int FramePoolState::BeginWrite() {
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return -1;
    // A free texture, else the oldest frame nobody has taken yet: it is dropped, as a full pool drops frames.
    Buffer* chosen = nullptr;
    for (Buffer& buffer : m_buffers)
        if (buffer.state == BufferState::Free && chosen == nullptr)
            chosen = &buffer;
    if (chosen == nullptr)
        for (Buffer& buffer : m_buffers)
            if (buffer.state == BufferState::Ready && (chosen == nullptr || buffer.serial < chosen->serial))
                chosen = &buffer;
    if (chosen == nullptr)
        return -1;
    chosen->state = BufferState::Writing;
    return static_cast<int>(chosen - m_buffers.data());
}

void FramePoolState::EndWrite(int index, x11::GrabResult result, SizeInt32 contentSize) {
    {
        std::lock_guard lock(m_mutex);
        Buffer& buffer = m_buffers[index];
        if (result == x11::GrabResult::Failed) {
            buffer.state = BufferState::Free;
            buffer.kept = false;
            return;
        }
        // Rows a grab left alone may still owe their alpha.
        buffer.texture->OweOpaqueAlpha(result == x11::GrabResult::WrittenWithoutAlpha ||
                                       (buffer.kept && buffer.texture->OwesOpaqueAlpha()));
        buffer.kept = true;
        buffer.state = BufferState::Ready;
        buffer.serial = ++m_lastSerial;
        buffer.contentSize = contentSize;
        buffer.time = pyx::CaptureTime().count();
    }
    FireArrived();
}

void FramePoolState::FireArrived() {
    const auto owner = m_owner.lock();
    if (!owner)
        return;
    m_arrivalHandlers.Invoke(Direct3D11CaptureFramePool(owner));
}

HRESULT FramePoolState::StartProducing(const GraphicsCaptureItem& item,
                                       std::shared_ptr<std::atomic<bool>> cursorEnabled,
                                       std::unique_ptr<x11::FrameSource> source) {
    if (Closed())
        return RO_E_CLOSED;
    std::lock_guard lock(m_producerMutex);
    if (m_producer)
        return E_ILLEGAL_METHOD_CALL;
    auto self = shared_from_this();
    FrameProducer::Callbacks callbacks;
    callbacks.beginWrite = [self](x11::FrameTarget& target) {
        const int index = self->BeginWrite();
        if (index >= 0) {
            const Buffer& buffer = self->m_buffers[index];
            Texture2D& texture = *buffer.texture.Get();
            texture.PrepareForWrite();
            target = x11::FrameTarget{texture.Storage(),     texture.RowPitch(),       texture.Desc().Width,
                                      texture.Desc().Height, texture.SharedMemoryId(), buffer.kept};
        }
        return index;
    };
    callbacks.endWrite = [self](int index, x11::GrabResult result, SizeInt32 contentSize) {
        self->EndWrite(index, result, contentSize);
    };
    callbacks.closed = [item] {
        item.NotifyClosed();
    };
    if (!source)
        return FrameProducer::Start(item, std::move(cursorEnabled), std::move(callbacks), m_producer);
    m_producer = FrameProducer::Start(std::move(source), std::move(cursorEnabled), std::move(callbacks));
    return S_OK;
}

void FramePoolState::StopProducing() {
    std::unique_ptr<FrameProducer> producer;
    {
        std::lock_guard lock(m_producerMutex);
        producer = std::move(m_producer);
    }
    producer.reset();
}

void FramePoolState::Close() {
    StopProducing();
    std::lock_guard lock(m_mutex);
    m_closed = true;
}

bool FramePoolState::Closed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}
