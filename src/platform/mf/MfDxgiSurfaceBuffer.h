#pragma once
// A media buffer over one subresource of a texture. Lock2D hands out the texture's own rows; Lock hands out a
// packed copy that is written back on Unlock, as the Windows buffer does with its system-memory copy.

#include "platform/d3d/Texture2D.h"
#include <mfidl.h>
#include <wrl/implements.h>

#include <mutex>
#include <vector>

class MfDxgiSurfaceBuffer final : public ComObject<IMFMediaBuffer, IMF2DBuffer, IMFDXGIBuffer> {
public:
    MfDxgiSurfaceBuffer(ComPtr<Texture2D> texture, UINT subresource, bool bottomUp);

    // IMFMediaBuffer
    HRESULT STDMETHODCALLTYPE Lock(BYTE** ppbBuffer, DWORD* pcbMaxLength, DWORD* pcbCurrentLength) override;
    HRESULT STDMETHODCALLTYPE Unlock() override;
    HRESULT STDMETHODCALLTYPE GetCurrentLength(DWORD* pcbCurrentLength) override;
    HRESULT STDMETHODCALLTYPE SetCurrentLength(DWORD cbCurrentLength) override;
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* pcbMaxLength) override;

    // IMF2DBuffer
    HRESULT STDMETHODCALLTYPE Lock2D(BYTE** ppbScanline0, LONG* plPitch) override;
    // Lock2D for a reader that ignores alpha (a conversion to YUV) and writes nothing: alpha the texture owes
    // stays owed, and a copy's rows may be its source's.
    HRESULT Lock2DForColour(BYTE** ppbScanline0, LONG* plPitch);
    HRESULT STDMETHODCALLTYPE Unlock2D() override;
    HRESULT STDMETHODCALLTYPE GetScanline0AndPitch(BYTE** pbScanline0, LONG* plPitch) override;
    HRESULT STDMETHODCALLTYPE IsContiguousFormat(BOOL* pfIsContiguous) override;
    HRESULT STDMETHODCALLTYPE GetContiguousLength(DWORD* pcbLength) override;
    HRESULT STDMETHODCALLTYPE ContiguousCopyTo(BYTE* pbDestBuffer, DWORD cbDestBuffer) override;
    HRESULT STDMETHODCALLTYPE ContiguousCopyFrom(const BYTE* pbSrcBuffer, DWORD cbSrcBuffer) override;

    // IMFDXGIBuffer
    HRESULT STDMETHODCALLTYPE GetResource(REFIID riid, LPVOID* ppvObject) override;
    HRESULT STDMETHODCALLTYPE GetSubresourceIndex(UINT* puSubresource) override;

private:
    enum class LockKind { None, Contiguous, TwoD };

    HRESULT LockRows(BYTE** ppbScanline0, LONG* plPitch, bool colourOnly);
    // Packs the subresource's planes into `packed` or unpacks them back.
    void CopyOut(BYTE* packed) const;
    void CopyIn(const BYTE* packed);

    const ComPtr<Texture2D> m_texture;
    const UINT m_subresource;
    const bool m_bottomUp;
    const DWORD m_contiguousLength;
    std::mutex m_mutex;
    DWORD m_currentLength;
    LockKind m_lockKind = LockKind::None;
    unsigned m_lockCount = 0;
    // While locked in two dimensions: the rows handed out, and for a colour read the texture they belong to.
    std::byte* m_scanline0 = nullptr;
    ComPtr<Texture2D> m_colourSource;
    std::vector<BYTE> m_packed;
};
