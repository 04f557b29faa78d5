#pragma once
// The pixels of a video sample, locked in place: a texture-backed buffer through IMF2DBuffer (the texture's
// own rows), a plain memory buffer with the type's stride. Nothing is copied.

#include <mfidl.h>
#include <mfobjects.h>
#include <wrl/client.h>

// What a transform expects a picture to be.
struct PictureFormat {
    GUID subtype = GUID_NULL; // MFVideoFormat_ARGB32 or MFVideoFormat_NV12
    UINT32 width = 0;
    UINT32 height = 0;
    LONG stride = 0; // packed rows of a memory buffer; 0: as narrow as the format allows

    // MF_E_INVALIDMEDIATYPE unless the type is an ARGB32 or NV12 video type with a usable size and stride.
    static HRESULT FromType(IMFMediaType* type, PictureFormat& format);
    // Bytes of one row of the first plane.
    UINT32 RowBytes() const;
    // The size of the picture with rows of `pitch` bytes, chroma plane included.
    UINT64 Size(LONG pitch) const;
};

// Copies the item when the source type has it.
HRESULT CopyTypeItem(IMFMediaType* from, IMFMediaType* to, REFGUID key);
// Progressive or unspecified: nothing here deinterlaces.
bool IsProgressive(IMFMediaType* type);
// Equal frame rates, or a rate missing from either type.
bool SameFrameRate(IMFMediaType* a, IMFMediaType* b);

class PictureLock {
public:
    PictureLock() = default;
    ~PictureLock() { Unlock(); }
    PictureLock(const PictureLock&) = delete;
    PictureLock& operator=(const PictureLock&) = delete;

    // Locks buffer 0 of the sample. MF_E_BUFFERTOOSMALL (or E_INVALIDARG for a texture of another format)
    // when the buffer cannot hold the picture; `writing` sets a memory buffer's current length. A reader
    // that ignores alpha leaves a texture's owed alpha unpaid.
    HRESULT Lock(IMFSample* sample, const PictureFormat& format, bool writing, bool alphaIgnored = false);
    void Unlock();

    BYTE* Data() const { return m_data; }
    LONG Pitch() const { return m_pitch; }
    // The interleaved chroma plane of an NV12 picture.
    BYTE* Chroma() const { return m_data + static_cast<std::size_t>(m_pitch) * m_chromaRow; }

private:
    HRESULT LockSurface(const PictureFormat& format, bool alphaIgnored);
    HRESULT LockMemory(const PictureFormat& format, bool writing);

    ComPtr<IMFMediaBuffer> m_buffer;
    ComPtr<IMF2DBuffer> m_buffer2D;
    BYTE* m_data = nullptr;
    LONG m_pitch = 0;
    UINT32 m_chromaRow = 0;
};
