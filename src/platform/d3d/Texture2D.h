#pragma once
// A 2D texture in CPU memory: every subresource holds its planes one after another, all with one row pitch
// aligned to 64 bytes, so Map hands out the layout a Windows driver gives for the same format.

#include "D3D11.h"
#include "FormatLayout.h"
#include "platform/win/ComObject.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

// Frees a texture's storage: detaches a shared-memory segment, frees private memory.
struct TextureStorageRelease {
    int sharedMemoryId = -1;
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

    // A window grabbed without alpha leaves the alpha bytes of its pixels unwritten: the texture then owes
    // 255 in every one. Whatever reads the bytes pays it first (PayOpaqueAlpha); a whole-texture copy passes
    // the debt on instead, so a frame that is only ever converted to YUV never costs a pass for its alpha.
    void OweOpaqueAlpha(bool owed) { m_owesOpaqueAlpha.store(owed, std::memory_order_release); }
    bool OwesOpaqueAlpha() const { return m_owesOpaqueAlpha.load(std::memory_order_acquire); }
    void PayOpaqueAlpha();

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

private:
    Texture2D(ID3D11Device* device, const D3D11_TEXTURE2D_DESC& desc, const FormatLayout& layout,
              Backing backing);

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
};

// Copies `rows` rows of `rowBytes` between pitched images (regions may overlap).
void CopyRows(std::byte* dst, std::size_t dstPitch, const std::byte* src, std::size_t srcPitch,
              std::size_t rowBytes, std::size_t rows);
