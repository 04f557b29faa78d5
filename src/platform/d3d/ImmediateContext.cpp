#include "ImmediateContext.h"

#include "Device.h"
#include "Texture2D.h"

namespace {

bool MapAllowed(const D3D11_TEXTURE2D_DESC& desc, D3D11_MAP mapType) {
    const bool read = (desc.CPUAccessFlags & D3D11_CPU_ACCESS_READ) != 0;
    const bool write = (desc.CPUAccessFlags & D3D11_CPU_ACCESS_WRITE) != 0;
    switch (mapType) {
    case D3D11_MAP_READ:
        return desc.Usage == D3D11_USAGE_STAGING && read;
    case D3D11_MAP_WRITE:
        return desc.Usage == D3D11_USAGE_STAGING && write;
    case D3D11_MAP_READ_WRITE:
        return desc.Usage == D3D11_USAGE_STAGING && read && write;
    case D3D11_MAP_WRITE_DISCARD:
    case D3D11_MAP_WRITE_NO_OVERWRITE:
        return desc.Usage == D3D11_USAGE_DYNAMIC && write;
    default:
        return false;
    }
}

// The full area of a subresource when no box is given.
D3D11_BOX BoxOrFull(const D3D11_BOX* box, const D3D11_TEXTURE2D_DESC& desc) {
    return box != nullptr ? *box : D3D11_BOX{0, 0, 0, desc.Width, desc.Height, 1};
}

bool BoxFits(const D3D11_BOX& box, const D3D11_TEXTURE2D_DESC& desc, bool evenOnly) {
    if (box.left >= box.right || box.top >= box.bottom || box.right > desc.Width || box.bottom > desc.Height)
        return false;
    return !evenOnly || (box.left % 2 == 0 && box.top % 2 == 0 && box.right % 2 == 0 && box.bottom % 2 == 0);
}

} // namespace

HRESULT ImmediateContext::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(ID3D11DeviceChild) &&
        riid != __uuidof(ID3D11DeviceContext) && riid != __uuidof(ID3D11DeviceContext1))
        return E_NOINTERFACE;
    AddRef();
    *object = static_cast<ID3D11DeviceContext1*>(this);
    return S_OK;
}

ULONG ImmediateContext::AddRef() { return static_cast<ID3D11Device&>(m_device).AddRef(); }

ULONG ImmediateContext::Release() { return static_cast<ID3D11Device&>(m_device).Release(); }

void ImmediateContext::GetDevice(ID3D11Device** device) {
    if (device == nullptr)
        return;
    AddRef();
    *device = &m_device;
}

HRESULT ImmediateContext::Map(ID3D11Resource* resource, UINT subresource, D3D11_MAP mapType, UINT mapFlags,
                              D3D11_MAPPED_SUBRESOURCE* mapped) {
    if (mapped != nullptr)
        *mapped = D3D11_MAPPED_SUBRESOURCE{};
    Texture2D* texture = Texture2D::FromResource(resource);
    if (texture == nullptr || mapped == nullptr || subresource >= texture->SubresourceCount() ||
        !MapAllowed(texture->Desc(), mapType))
        return E_INVALIDARG;
    const auto lock = m_device.ContextLock();
    if (!texture->BeginMap(subresource))
        return E_INVALIDARG;
    texture->PrepareBytes();
    mapped->pData = texture->SubresourceData(subresource);
    mapped->RowPitch = texture->RowPitch();
    mapped->DepthPitch = static_cast<UINT>(texture->SubresourceSize());
    return S_OK;
}

void ImmediateContext::Unmap(ID3D11Resource* resource, UINT subresource) {
    Texture2D* texture = Texture2D::FromResource(resource);
    if (texture == nullptr || subresource >= texture->SubresourceCount())
        return;
    const auto lock = m_device.ContextLock();
    texture->EndMap(subresource);
}

void ImmediateContext::CopySubresourceRegion(ID3D11Resource* dst, UINT dstSubresource, UINT dstX, UINT dstY,
                                             UINT dstZ, ID3D11Resource* src, UINT srcSubresource,
                                             const D3D11_BOX* srcBox) {
    Texture2D* target = Texture2D::FromResource(dst);
    Texture2D* source = Texture2D::FromResource(src);
    // Invalid copies are dropped, as the runtime does.
    if (target == nullptr || source == nullptr || target->Desc().Format != source->Desc().Format ||
        dstZ != 0 || dstSubresource >= target->SubresourceCount() ||
        srcSubresource >= source->SubresourceCount())
        return;
    const FormatLayout& layout = source->Layout();
    const D3D11_BOX box = BoxOrFull(srcBox, source->Desc());
    const D3D11_BOX dstBox{dstX, dstY, 0, dstX + (box.right - box.left), dstY + (box.bottom - box.top), 1};
    if (!BoxFits(box, source->Desc(), layout.evenSize) || !BoxFits(dstBox, target->Desc(), layout.evenSize))
        return;
    const auto lock = m_device.ContextLock();
    // Part of a texture moves: neither side can keep a debt for its whole area.
    source->PrepareBytes();
    target->PrepareBytes();
    for (UINT p = 0; p < layout.planeCount; ++p) {
        const PlaneLayout& plane = layout.planes[p];
        std::byte* to = target->SubresourceData(dstSubresource) + target->PlaneOffset(p) +
                        std::size_t(dstY / plane.rowDivisor) * target->RowPitch() +
                        dstX * plane.bytesPerPixel;
        const std::byte* from = source->SubresourceData(srcSubresource) + source->PlaneOffset(p) +
                                std::size_t(box.top / plane.rowDivisor) * source->RowPitch() +
                                box.left * plane.bytesPerPixel;
        CopyRows(to, target->RowPitch(), from, source->RowPitch(),
                 std::size_t(box.right - box.left) * plane.bytesPerPixel,
                 (box.bottom - box.top) / plane.rowDivisor);
    }
}

void ImmediateContext::CopyResource(ID3D11Resource* dst, ID3D11Resource* src) {
    Texture2D* target = Texture2D::FromResource(dst);
    Texture2D* source = Texture2D::FromResource(src);
    if (target == nullptr || source == nullptr || target == source || !target->SameShape(*source))
        return;
    const auto lock = m_device.ContextLock();
    target->CopyFrom(*source);
}

void ImmediateContext::UpdateSubresource(ID3D11Resource* dst, UINT dstSubresource, const D3D11_BOX* dstBox,
                                         const void* srcData, UINT srcRowPitch, UINT srcDepthPitch) {
    Texture2D* target = Texture2D::FromResource(dst);
    if (target == nullptr || srcData == nullptr || dstSubresource >= target->SubresourceCount() ||
        target->Desc().Usage != D3D11_USAGE_DEFAULT)
        return;
    const FormatLayout& layout = target->Layout();
    const D3D11_BOX box = BoxOrFull(dstBox, target->Desc());
    if (!BoxFits(box, target->Desc(), layout.evenSize))
        return;
    const auto lock = m_device.ContextLock();
    target->PrepareBytes();
    const auto* from = static_cast<const std::byte*>(srcData);
    for (UINT p = 0; p < layout.planeCount; ++p) {
        const PlaneLayout& plane = layout.planes[p];
        const std::size_t rows = (box.bottom - box.top) / plane.rowDivisor;
        std::byte* to = target->SubresourceData(dstSubresource) + target->PlaneOffset(p) +
                        std::size_t(box.top / plane.rowDivisor) * target->RowPitch() +
                        box.left * plane.bytesPerPixel;
        CopyRows(to, target->RowPitch(), from, srcRowPitch,
                 std::size_t(box.right - box.left) * plane.bytesPerPixel, rows);
        from += rows * srcRowPitch;
    }
}

void ImmediateContext::Flush() {}

void ImmediateContext::DiscardResource(ID3D11Resource* resource) {
    Texture2D* texture = Texture2D::FromResource(resource);
    if (texture == nullptr)
        return;
    const auto lock = m_device.ContextLock();
    texture->Discard();
}
