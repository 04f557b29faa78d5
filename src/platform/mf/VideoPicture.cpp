#include "VideoPicture.h"

#include "MfDxgiSurfaceBuffer.h"

#include <d3d11.h>
#include <mfapi.h>
#include <mferror.h>

namespace {

// The largest picture side the transforms take, as for Direct3D 11 textures.
constexpr UINT32 MaxSide = 16384;

} // namespace

HRESULT PictureFormat::FromType(IMFMediaType* type, PictureFormat& format) {
    format = {};
    GUID major = GUID_NULL;
    if (type == nullptr)
        return E_POINTER;
    if (FAILED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) || major != MFMediaType_Video ||
        FAILED(type->GetGUID(MF_MT_SUBTYPE, &format.subtype)) ||
        (format.subtype != MFVideoFormat_ARGB32 && format.subtype != MFVideoFormat_NV12))
        return MF_E_INVALIDMEDIATYPE;
    if (FAILED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &format.width, &format.height)) ||
        format.width == 0 || format.height == 0 || format.width > MaxSide || format.height > MaxSide)
        return MF_E_INVALIDMEDIATYPE;
    if (format.subtype == MFVideoFormat_NV12 && (format.width % 2 != 0 || format.height % 2 != 0))
        return MF_E_INVALIDMEDIATYPE;
    UINT32 stride = 0;
    if (SUCCEEDED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride))) {
        // Bottom-up pictures (negative strides) are not produced by anything on this platform.
        const LONG signedStride = static_cast<LONG>(stride);
        if (signedStride < static_cast<LONG>(format.RowBytes()))
            return MF_E_INVALIDMEDIATYPE;
        format.stride = signedStride;
    }
    return S_OK;
}

UINT32 PictureFormat::RowBytes() const { return subtype == MFVideoFormat_ARGB32 ? width * 4 : width; }

UINT64 PictureFormat::Size(LONG pitch) const {
    const UINT64 rows = subtype == MFVideoFormat_NV12 ? UINT64(height) * 3 / 2 : height;
    return UINT64(pitch) * (rows - 1) + RowBytes();
}

HRESULT CopyTypeItem(IMFMediaType* from, IMFMediaType* to, REFGUID key) {
    PROPVARIANT value;
    PropVariantInit(&value);
    if (FAILED(from->GetItem(key, &value)))
        return S_OK;
    const HRESULT hr = to->SetItem(key, value);
    PropVariantClear(&value);
    return hr;
}

bool IsProgressive(IMFMediaType* type) {
    const UINT32 mode = MFGetAttributeUINT32(type, MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    return mode == MFVideoInterlace_Progressive || mode == MFVideoInterlace_Unknown;
}

bool SameFrameRate(IMFMediaType* a, IMFMediaType* b) {
    UINT32 aNumerator = 0, aDenominator = 0, bNumerator = 0, bDenominator = 0;
    if (FAILED(MFGetAttributeRatio(a, MF_MT_FRAME_RATE, &aNumerator, &aDenominator)) ||
        FAILED(MFGetAttributeRatio(b, MF_MT_FRAME_RATE, &bNumerator, &bDenominator)))
        return true;
    return UINT64(aNumerator) * bDenominator == UINT64(bNumerator) * aDenominator;
}

HRESULT PictureLock::Lock(IMFSample* sample, const PictureFormat& format, bool writing, bool alphaIgnored) {
    Unlock();
    if (sample == nullptr)
        return E_POINTER;
    HRESULT hr = sample->GetBufferByIndex(0, &m_buffer);
    if (FAILED(hr))
        return hr;
    hr = m_buffer->QueryInterface(&m_buffer2D);
    hr = SUCCEEDED(hr) ? LockSurface(format, alphaIgnored) : LockMemory(format, writing);
    if (FAILED(hr)) {
        m_buffer2D = nullptr;
        m_buffer = nullptr;
        m_data = nullptr;
    }
    return hr;
}

HRESULT PictureLock::LockSurface(const PictureFormat& format, bool alphaIgnored) {
    // A texture's chroma plane follows its whole luma plane, which may be taller than the picture.
    UINT32 planeRows = format.height;
    ComPtr<IMFDXGIBuffer> surface;
    if (SUCCEEDED(m_buffer->QueryInterface(&surface))) {
        ComPtr<ID3D11Texture2D> texture;
        HRESULT hr = surface->GetResource(IID_PPV_ARGS(&texture));
        if (FAILED(hr))
            return hr;
        D3D11_TEXTURE2D_DESC desc{};
        texture->GetDesc(&desc);
        const DXGI_FORMAT expected =
            format.subtype == MFVideoFormat_NV12 ? DXGI_FORMAT_NV12 : DXGI_FORMAT_B8G8R8A8_UNORM;
        if (desc.Format != expected)
            return E_INVALIDARG;
        if (desc.Width < format.width || desc.Height < format.height)
            return MF_E_BUFFERTOOSMALL;
        planeRows = desc.Height;
    } else {
        DWORD length = 0;
        HRESULT hr = m_buffer2D->GetContiguousLength(&length);
        if (FAILED(hr))
            return hr;
        if (length < format.Size(static_cast<LONG>(format.RowBytes())))
            return MF_E_BUFFERTOOSMALL;
    }
    auto* texture = alphaIgnored ? dynamic_cast<MfDxgiSurfaceBuffer*>(m_buffer.Get()) : nullptr;
    HRESULT hr = texture != nullptr ? texture->Lock2DForColour(&m_data, &m_pitch)
                                    : m_buffer2D->Lock2D(&m_data, &m_pitch);
    if (FAILED(hr)) {
        m_data = nullptr;
        return hr;
    }
    if (m_pitch < static_cast<LONG>(format.RowBytes())) {
        m_buffer2D->Unlock2D();
        m_data = nullptr;
        return MF_E_BUFFERTOOSMALL;
    }
    m_chromaRow = planeRows;
    return S_OK;
}

HRESULT PictureLock::LockMemory(const PictureFormat& format, bool writing) {
    const LONG pitch = format.stride != 0 ? format.stride : static_cast<LONG>(format.RowBytes());
    DWORD maxLength = 0;
    DWORD currentLength = 0;
    HRESULT hr = m_buffer->Lock(&m_data, &maxLength, &currentLength);
    if (FAILED(hr)) {
        m_data = nullptr;
        return hr;
    }
    const UINT64 size = format.Size(pitch);
    if ((writing ? maxLength : currentLength) < size) {
        m_buffer->Unlock();
        m_data = nullptr;
        return MF_E_BUFFERTOOSMALL;
    }
    if (writing) {
        hr = m_buffer->SetCurrentLength(static_cast<DWORD>(size));
        if (FAILED(hr)) {
            m_buffer->Unlock();
            m_data = nullptr;
            return hr;
        }
    }
    m_pitch = pitch;
    m_chromaRow = format.height;
    return S_OK;
}

void PictureLock::Unlock() {
    if (m_data != nullptr) {
        if (m_buffer2D)
            m_buffer2D->Unlock2D();
        else
            m_buffer->Unlock();
    }
    m_data = nullptr;
    m_buffer2D = nullptr;
    m_buffer = nullptr;
}
