#include "MfDxgiSurfaceBuffer.h"

#include <mferror.h>
#include <wrl/implements.h>

#include <cstring>

namespace {

DWORD ContiguousLength(const Texture2D& texture) {
    const D3D11_TEXTURE2D_DESC& desc = texture.Desc();
    const FormatLayout& layout = texture.Layout();
    std::size_t length = 0;
    for (UINT p = 0; p < layout.planeCount; ++p)
        length += std::size_t(desc.Width) * layout.planes[p].bytesPerPixel *
                  (desc.Height / layout.planes[p].rowDivisor);
    return static_cast<DWORD>(length);
}

// Visits every row of every plane: (row in the texture, row in the packed image, bytes in the row).
template <class Visit>
void ForEachRow(Texture2D& texture, UINT subresource, bool bottomUp, Visit&& visit) {
    const D3D11_TEXTURE2D_DESC& desc = texture.Desc();
    const FormatLayout& layout = texture.Layout();
    // Only a single-plane (linear) image can be laid out bottom-up.
    const bool reverse = bottomUp && layout.planeCount == 1;
    std::byte* base = texture.SubresourceData(subresource);
    std::size_t packedOffset = 0;
    for (UINT p = 0; p < layout.planeCount; ++p) {
        const std::size_t rowBytes = std::size_t(desc.Width) * layout.planes[p].bytesPerPixel;
        const UINT rows = desc.Height / layout.planes[p].rowDivisor;
        std::byte* plane = base + texture.PlaneOffset(p);
        for (UINT r = 0; r < rows; ++r) {
            const UINT source = reverse ? rows - 1 - r : r;
            visit(plane + std::size_t(source) * texture.RowPitch(), packedOffset, rowBytes);
            packedOffset += rowBytes;
        }
    }
}

} // namespace

MfDxgiSurfaceBuffer::MfDxgiSurfaceBuffer(ComPtr<Texture2D> texture, UINT subresource, bool bottomUp)
    : m_texture(std::move(texture)), m_subresource(subresource), m_bottomUp(bottomUp),
      m_contiguousLength(ContiguousLength(*m_texture)), m_currentLength(m_contiguousLength) {}

void MfDxgiSurfaceBuffer::CopyOut(BYTE* packed) const {
    ForEachRow(*m_texture, m_subresource, m_bottomUp,
               [&](const std::byte* row, std::size_t offset, std::size_t n) {
                   std::memcpy(packed + offset, row, n);
               });
}

void MfDxgiSurfaceBuffer::CopyIn(const BYTE* packed) {
    ForEachRow(*m_texture, m_subresource, m_bottomUp, [&](std::byte* row, std::size_t offset, std::size_t n) {
        std::memcpy(row, packed + offset, n);
    });
}

HRESULT MfDxgiSurfaceBuffer::Lock(BYTE** ppbBuffer, DWORD* pcbMaxLength, DWORD* pcbCurrentLength) {
    if (ppbBuffer == nullptr)
        return E_POINTER;
    *ppbBuffer = nullptr;
    return NoThrow([&] {
        std::lock_guard lock(m_mutex);
        if (m_lockKind == LockKind::TwoD)
            return MF_E_INVALIDREQUEST;
        if (m_lockCount == 0) {
            m_packed.resize(m_contiguousLength);
            m_texture->PrepareBytes();
            CopyOut(m_packed.data());
        }
        m_lockKind = LockKind::Contiguous;
        ++m_lockCount;
        *ppbBuffer = m_packed.data();
        if (pcbMaxLength != nullptr)
            *pcbMaxLength = m_contiguousLength;
        if (pcbCurrentLength != nullptr)
            *pcbCurrentLength = m_currentLength;
        return S_OK;
    });
}

HRESULT MfDxgiSurfaceBuffer::Unlock() {
    std::lock_guard lock(m_mutex);
    if (m_lockKind != LockKind::Contiguous)
        return MF_E_INVALIDREQUEST;
    if (--m_lockCount == 0) {
        CopyIn(m_packed.data());
        m_lockKind = LockKind::None;
    }
    return S_OK;
}

HRESULT MfDxgiSurfaceBuffer::GetCurrentLength(DWORD* pcbCurrentLength) {
    if (pcbCurrentLength == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pcbCurrentLength = m_currentLength;
    return S_OK;
}

HRESULT MfDxgiSurfaceBuffer::SetCurrentLength(DWORD cbCurrentLength) {
    if (cbCurrentLength > m_contiguousLength)
        return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    m_currentLength = cbCurrentLength;
    return S_OK;
}

HRESULT MfDxgiSurfaceBuffer::GetMaxLength(DWORD* pcbMaxLength) { return GetContiguousLength(pcbMaxLength); }

HRESULT MfDxgiSurfaceBuffer::Lock2D(BYTE** ppbScanline0, LONG* plPitch) {
    return LockRows(ppbScanline0, plPitch, false);
}

HRESULT MfDxgiSurfaceBuffer::Lock2DForColour(BYTE** ppbScanline0, LONG* plPitch) {
    return LockRows(ppbScanline0, plPitch, true);
}

HRESULT MfDxgiSurfaceBuffer::LockRows(BYTE** ppbScanline0, LONG* plPitch, bool colourOnly) {
    if (ppbScanline0 == nullptr || plPitch == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    if (m_lockKind == LockKind::Contiguous)
        return MF_E_INVALIDREQUEST;
    if (m_lockCount == 0) {
        if (colourOnly) {
            Texture2D::ColourRead read = m_texture->BeginColourRead(m_subresource);
            m_scanline0 = read.data;
            m_colourSource = std::move(read.holder);
        } else {
            m_texture->PrepareBytes();
            m_scanline0 = m_texture->SubresourceData(m_subresource);
        }
    } else if (!colourOnly && m_colourSource) {
        // The rows handed out may be another texture's, which only a colour reader may see.
        return MF_E_INVALIDREQUEST;
    }
    m_lockKind = LockKind::TwoD;
    ++m_lockCount;
    *ppbScanline0 = reinterpret_cast<BYTE*>(m_scanline0);
    *plPitch = static_cast<LONG>(m_texture->RowPitch());
    return S_OK;
}

HRESULT MfDxgiSurfaceBuffer::Unlock2D() {
    ComPtr<Texture2D> colourSource;
    {
        std::lock_guard lock(m_mutex);
        if (m_lockKind != LockKind::TwoD)
            return MF_E_INVALIDREQUEST;
        if (--m_lockCount == 0) {
            m_lockKind = LockKind::None;
            colourSource = std::move(m_colourSource);
        }
    }
    Texture2D::EndColourRead(std::move(colourSource));
    return S_OK;
}

HRESULT MfDxgiSurfaceBuffer::GetScanline0AndPitch(BYTE** pbScanline0, LONG* plPitch) {
    if (pbScanline0 == nullptr || plPitch == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    if (m_lockKind != LockKind::TwoD)
        return MF_E_INVALIDREQUEST;
    *pbScanline0 = reinterpret_cast<BYTE*>(m_scanline0);
    *plPitch = static_cast<LONG>(m_texture->RowPitch());
    return S_OK;
}

HRESULT MfDxgiSurfaceBuffer::IsContiguousFormat(BOOL* pfIsContiguous) {
    if (pfIsContiguous == nullptr)
        return E_POINTER;
    const std::size_t rowBytes =
        std::size_t(m_texture->Desc().Width) * m_texture->Layout().planes[0].bytesPerPixel;
    *pfIsContiguous = rowBytes == m_texture->RowPitch() ? TRUE : FALSE;
    return S_OK;
}

HRESULT MfDxgiSurfaceBuffer::GetContiguousLength(DWORD* pcbLength) {
    if (pcbLength == nullptr)
        return E_POINTER;
    *pcbLength = m_contiguousLength;
    return S_OK;
}

HRESULT MfDxgiSurfaceBuffer::ContiguousCopyTo(BYTE* pbDestBuffer, DWORD cbDestBuffer) {
    if (pbDestBuffer == nullptr)
        return E_POINTER;
    if (cbDestBuffer < m_contiguousLength)
        return E_INVALIDARG;
    m_texture->PrepareBytes();
    CopyOut(pbDestBuffer);
    return S_OK;
}

HRESULT MfDxgiSurfaceBuffer::ContiguousCopyFrom(const BYTE* pbSrcBuffer, DWORD cbSrcBuffer) {
    if (pbSrcBuffer == nullptr)
        return E_POINTER;
    if (cbSrcBuffer < m_contiguousLength)
        return E_INVALIDARG;
    m_texture->PrepareForWrite();
    CopyIn(pbSrcBuffer);
    m_texture->OweOpaqueAlpha(false);
    return S_OK;
}

HRESULT MfDxgiSurfaceBuffer::GetResource(REFIID riid, LPVOID* ppvObject) {
    if (ppvObject == nullptr)
        return E_POINTER;
    return m_texture->QueryInterface(riid, ppvObject);
}

HRESULT MfDxgiSurfaceBuffer::GetSubresourceIndex(UINT* puSubresource) {
    if (puSubresource == nullptr)
        return E_POINTER;
    *puSubresource = m_subresource;
    return S_OK;
}

HRESULT MFCreateDXGISurfaceBuffer(REFIID riid, IUnknown* punkSurface, UINT uSubresourceIndex,
                                  BOOL fBottomUpWhenLinear, IMFMediaBuffer** ppBuffer) {
    if (ppBuffer == nullptr)
        return E_POINTER;
    *ppBuffer = nullptr;
    if (punkSurface == nullptr)
        return E_POINTER;
    if (riid != __uuidof(ID3D11Texture2D))
        return E_INVALIDARG;
    ComPtr<ID3D11Texture2D> surface;
    HRESULT hr = punkSurface->QueryInterface(IID_PPV_ARGS(&surface));
    if (FAILED(hr))
        return hr;
    // Only this platform's textures have memory a buffer can reach.
    ComPtr<Texture2D> texture(Texture2D::FromResource(surface.Get()));
    if (!texture || uSubresourceIndex >= texture->SubresourceCount())
        return E_INVALIDARG;
    return CreateObject<MfDxgiSurfaceBuffer>(ppBuffer, std::move(texture), uSubresourceIndex,
                                             fBottomUpWhenLinear != FALSE);
}
