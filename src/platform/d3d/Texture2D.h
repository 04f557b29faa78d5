#pragma once
// A 2D texture in CPU memory: every subresource holds its planes one after another, all with one row pitch
// aligned to 64 bytes, so Map hands out the layout a Windows driver gives for the same format.
//
// A whole-texture copy moves no bytes at first: the copy reads its source's bytes until one of the two is
// about to change, and takes its own then. So whatever touches a texture's bytes through Storage or
// SubresourceData says so first: PrepareForWrite before overwriting them, PrepareBytes before reading or
// changing them in place. Only a reader of the colour channels reads through to the source (BeginColourRead).

#include "FormatLayout.h"
#include <d3d11.h>
#include <wrl/implements.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

// Frees a texture's storage: detaches a shared-memory segment, unmaps private memory.
struct TextureStorageRelease {
    int sharedMemoryId = -1;
    std::size_t size = 0;
    void operator()(std::byte* p) const;
};

class Texture2D final : public ComObject<ID3D11Texture2D, IDXGIResource> {
public:
    static constexpr UINT PitchAlignment = 64;

    // Checks a description the way D3D11 does: E_INVALIDARG for what it rejects, E_NOTIMPL for mip chains
    // and multisampling, which this platform does not offer.
    static HRESULT Validate(const D3D11_TEXTURE2D_DESC& desc, const D3D11_SUBRESOURCE_DATA* initialData);
    // Where the storage lives. Shared memory lets a display server write a grab straight into the texture;
    // when the system offers none, the texture falls back to private memory.
    enum class Backing { Private, SharedMemory };

    // `initialData`, when given, has one entry per subresource and is copied in; planes follow each other
    // at SysMemPitch.
    static HRESULT Create(ID3D11Device* device, const D3D11_TEXTURE2D_DESC& desc,
                          const D3D11_SUBRESOURCE_DATA* initialData, ComPtr<Texture2D>& texture,
                          Backing backing = Backing::Private);
    // The texture behind a resource of this platform; null for anything else.
    static Texture2D* FromResource(ID3D11Resource* resource);

    const D3D11_TEXTURE2D_DESC& Desc() const { return m_desc; }
    const FormatLayout& Layout() const { return *m_layout; }
    UINT RowPitch() const { return m_rowPitch; }
    UINT SubresourceCount() const { return m_desc.ArraySize; }
    std::size_t SubresourceSize() const { return m_subresourceSize; }
    std::byte* SubresourceData(UINT subresource) { return m_storage.get() + subresource * m_subresourceSize; }
    // Offset of a plane inside a subresource.
    std::size_t PlaneOffset(UINT plane) const;
    std::byte* Storage() { return m_storage.get(); }
    std::size_t StorageSize() const { return m_subresourceSize * m_desc.ArraySize; }
    // The System V identifier of the storage's shared-memory segment; -1 for private memory.
    int SharedMemoryId() const { return m_storage.get_deleter().sharedMemoryId; }
    bool SameShape(const Texture2D& other) const;

    // This texture becomes a copy of `source` (same shape), without moving any bytes yet.
    void CopyFrom(Texture2D& source);
    // Before a writer changes this texture's bytes: the copies that still read them take their own, colour
    // reads of them finish, and this texture holds its own bytes.
    void PrepareForWrite();
    // The content is no longer wanted: copies that still read it take their own bytes, a copy ends its link,
    // and private memory goes back to the system until the texture is written again.
    void Discard();
    // Before anyone reads or changes this texture's bytes in place: PrepareForWrite, and owed alpha is paid.
    void PrepareBytes();
    // For a reader that ignores alpha (a conversion to YUV): where the subresource's bytes are now, maybe the
    // source's of a copy. They stay unchanged until EndColourRead with the returned holder.
    struct ColourRead {
        std::byte* data = nullptr;
        ComPtr<Texture2D> holder;
    };
    ColourRead BeginColourRead(UINT subresource);
    static void EndColourRead(ComPtr<Texture2D> holder);

    // A window grabbed without alpha leaves the alpha bytes of its pixels unwritten: the texture then owes
    // 255 in every one. Whatever reads the bytes pays it first (PrepareBytes); a whole-texture copy passes
    // the debt on instead, so a frame that is only ever converted to YUV never costs a pass for its alpha.
    void OweOpaqueAlpha(bool owed) { m_owesOpaqueAlpha.store(owed, std::memory_order_release); }
    bool OwesOpaqueAlpha() const { return m_owesOpaqueAlpha.load(std::memory_order_acquire); }

    // False when the subresource is already mapped.
    bool BeginMap(UINT subresource);
    bool EndMap(UINT subresource);

    // ID3D11DeviceChild, ID3D11Resource, ID3D11Texture2D
    void STDMETHODCALLTYPE GetDevice(ID3D11Device** device) override;
    void STDMETHODCALLTYPE GetType(D3D11_RESOURCE_DIMENSION* dimension) override;
    void STDMETHODCALLTYPE GetDesc(D3D11_TEXTURE2D_DESC* desc) override;
    // IDXGIObject, IDXGIDeviceSubObject, IDXGIResource
    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) override;
    HRESULT STDMETHODCALLTYPE GetDevice(REFIID riid, void** device) override;
    HRESULT STDMETHODCALLTYPE GetUsage(UINT* usage) override;

    ~Texture2D() override;

private:
    Texture2D(ID3D11Device* device, const D3D11_TEXTURE2D_DESC& desc, const FormatLayout& layout,
              Backing backing);

    void PayOpaqueAlpha();
    // With the copy lock held. Each hands back the references it drops, to be released once the lock is.
    // Ends this copy's link to its source.
    ComPtr<Texture2D> LeaveSource();
    // Moves the source's bytes into this copy and ends the link.
    ComPtr<Texture2D> TakeSourceBytes();
    void GiveCopiesTheirBytes(std::unique_lock<std::mutex>& lock, std::vector<ComPtr<Texture2D>>& released);
    // Before this texture's bytes change or go: no copy reads them any more, and no colour read.
    void LetGoOfBytes(std::unique_lock<std::mutex>& lock, std::vector<ComPtr<Texture2D>>& released);

    ComPtr<ID3D11Device> m_device;
    D3D11_TEXTURE2D_DESC m_desc;
    const FormatLayout* m_layout;
    UINT m_rowPitch;
    std::size_t m_subresourceSize;
    std::unique_ptr<std::byte[], TextureStorageRelease> m_storage;
    std::mutex m_mapMutex;
    std::vector<bool> m_mapped;
    std::atomic<bool> m_owesOpaqueAlpha{false};
    std::mutex m_alphaMutex;
    // Guarded by one lock for every texture: links change a few times a frame.
    // The texture whose bytes are this one's until it takes its own; held alive by the link.
    ComPtr<Texture2D> m_copyOf;
    // The copies whose bytes are this texture's.
    std::vector<Texture2D*> m_copies;
    // Colour reads of this texture's storage in progress.
    unsigned m_colourReaders = 0;
    // While its source fills this copy's bytes outside the lock.
    bool m_takingBytes = false;
};

// Copies `rows` rows of `rowBytes` between pitched images (regions may overlap).
void CopyRows(std::byte* dst, std::size_t dstPitch, const std::byte* src, std::size_t srcPitch,
              std::size_t rowBytes, std::size_t rows);
