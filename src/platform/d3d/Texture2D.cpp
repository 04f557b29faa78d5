#include "Texture2D.h"

#include "platform/x11/PixelCopy.h"
#include "platform/x11/SharedMemory.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <sys/shm.h>

namespace {

constexpr UINT AllowedCpuAccess = D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE;

// Guards the copy links and colour readers of every texture.
std::mutex g_copyMutex;
// Signalled when a colour read ends and when copies have taken their bytes.
std::condition_variable g_copiesChanged;

} // namespace

void TextureStorageRelease::operator()(std::byte* p) const {
    if (sharedMemoryId >= 0)
        shmdt(p);
    else
        munmap(p, size);
}

void CopyRows(std::byte* dst, std::size_t dstPitch, const std::byte* src, std::size_t srcPitch,
              std::size_t rowBytes, std::size_t rows) {
    if (dstPitch == srcPitch && rowBytes == dstPitch) {
        std::memmove(dst, src, rowBytes * rows);
        return;
    }
    for (std::size_t row = 0; row < rows; ++row)
        std::memmove(dst + row * dstPitch, src + row * srcPitch, rowBytes);
}

HRESULT Texture2D::Validate(const D3D11_TEXTURE2D_DESC& desc, const D3D11_SUBRESOURCE_DATA* initialData) {
    const FormatLayout* layout = LookUpFormatLayout(desc.Format);
    if (layout == nullptr || desc.Width == 0 || desc.Height == 0 || desc.ArraySize == 0 ||
        desc.Width > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION ||
        desc.Height > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION || desc.ArraySize > 2048 ||
        desc.SampleDesc.Count == 0)
        return E_INVALIDARG;
    if (layout->evenSize && (desc.Width % 2 != 0 || desc.Height % 2 != 0))
        return E_INVALIDARG;
    if ((desc.CPUAccessFlags & ~AllowedCpuAccess) != 0)
        return E_INVALIDARG;
    switch (desc.Usage) {
    case D3D11_USAGE_DEFAULT:
        if (desc.CPUAccessFlags != 0)
            return E_INVALIDARG;
        break;
    case D3D11_USAGE_IMMUTABLE:
        if (desc.CPUAccessFlags != 0 || initialData == nullptr)
            return E_INVALIDARG;
        break;
    case D3D11_USAGE_DYNAMIC:
        if (desc.CPUAccessFlags != D3D11_CPU_ACCESS_WRITE)
            return E_INVALIDARG;
        break;
    case D3D11_USAGE_STAGING:
        if (desc.CPUAccessFlags == 0 || desc.BindFlags != 0)
            return E_INVALIDARG;
        break;
    default:
        return E_INVALIDARG;
    }
    if (desc.MipLevels != 1 || desc.SampleDesc.Count != 1)
        return NotImplemented();
    if (initialData != nullptr)
        for (UINT i = 0; i < desc.ArraySize; ++i)
            if (initialData[i].pSysMem == nullptr)
                return E_INVALIDARG;
    return S_OK;
}

HRESULT Texture2D::Create(ID3D11Device* device, const D3D11_TEXTURE2D_DESC& desc,
                          const D3D11_SUBRESOURCE_DATA* initialData, ComPtr<Texture2D>& texture,
                          Backing backing) {
    texture = nullptr;
    const HRESULT hr = Validate(desc, initialData);
    if (FAILED(hr))
        return hr;
    ComPtr<Texture2D> created;
    created.Attach(new (std::nothrow) Texture2D(device, desc, *LookUpFormatLayout(desc.Format), backing));
    if (!created || created->m_storage == nullptr)
        return E_OUTOFMEMORY;
    if (initialData != nullptr) {
        for (UINT sub = 0; sub < desc.ArraySize; ++sub) {
            const auto* src = static_cast<const std::byte*>(initialData[sub].pSysMem);
            std::size_t srcOffset = 0;
            for (UINT p = 0; p < created->m_layout->planeCount; ++p) {
                const PlaneLayout& plane = created->m_layout->planes[p];
                const UINT rows = desc.Height / plane.rowDivisor;
                CopyRows(created->SubresourceData(sub) + created->PlaneOffset(p), created->m_rowPitch,
                         src + srcOffset, initialData[sub].SysMemPitch,
                         std::size_t(desc.Width) * plane.bytesPerPixel, rows);
                srcOffset += std::size_t(rows) * initialData[sub].SysMemPitch;
            }
        }
    }
    texture = std::move(created);
    return S_OK;
}

Texture2D* Texture2D::FromResource(ID3D11Resource* resource) { return dynamic_cast<Texture2D*>(resource); }

Texture2D::Texture2D(ID3D11Device* device, const D3D11_TEXTURE2D_DESC& desc, const FormatLayout& layout,
                     Backing backing)
    : m_device(device), m_desc(desc), m_layout(&layout), m_mapped(desc.ArraySize, false) {
    const std::size_t rowBytes = std::size_t(desc.Width) * layout.planes[0].bytesPerPixel;
    m_rowPitch = static_cast<UINT>((rowBytes + PitchAlignment - 1) / PitchAlignment * PitchAlignment);
    m_subresourceSize = std::size_t(m_rowPitch) * layout.TotalRows(desc.Height);
    const std::size_t total = m_subresourceSize * desc.ArraySize;
    int segment = -1;
    std::byte* memory = backing == Backing::SharedMemory ? x11::AttachNewSegment(total, segment) : nullptr;
    if (memory == nullptr) {
        // Pages the system zeroes when first touched: a texture only ever read through as a copy of another
        // costs no memory.
        void* mapped = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        memory = mapped == MAP_FAILED ? nullptr : static_cast<std::byte*>(mapped);
    }
    // New segments and mappings both start zeroed. A segment is touched here all the same: a display server
    // fills it, and a first read that maps its pages one fault at a time would stall the first frames.
    if (segment >= 0)
        std::memset(memory, 0, total);
    m_storage =
        std::unique_ptr<std::byte[], TextureStorageRelease>(memory, TextureStorageRelease{segment, total});
}

std::size_t Texture2D::PlaneOffset(UINT plane) const {
    std::size_t offset = 0;
    for (UINT p = 0; p < plane; ++p)
        offset += std::size_t(m_rowPitch) * (m_desc.Height / m_layout->planes[p].rowDivisor);
    return offset;
}

bool Texture2D::SameShape(const Texture2D& other) const {
    return m_desc.Width == other.m_desc.Width && m_desc.Height == other.m_desc.Height &&
           m_desc.Format == other.m_desc.Format && m_desc.ArraySize == other.m_desc.ArraySize;
}

Texture2D::~Texture2D() {
    // A texture with copies is kept alive by them, so only its own link can be left.
    ComPtr<Texture2D> source; // after the lock: a last reference takes the lock again
    std::unique_lock lock(g_copyMutex);
    g_copiesChanged.wait(lock, [this] { return !m_takingBytes; });
    if (m_copyOf)
        source = LeaveSource();
}

void Texture2D::CopyFrom(Texture2D& source) {
    std::vector<ComPtr<Texture2D>> released; // after the lock: a last reference takes the lock again
    std::lock_guard lock(g_copyMutex);
    Texture2D* origin = source.m_copyOf ? source.m_copyOf.Get() : &source;
    if (origin != this) {
        // Copies of this texture keep its present content; a copy is never the source of another.
        while (!m_copies.empty())
            released.push_back(m_copies.back()->TakeSourceBytes());
        if (m_copyOf)
            released.push_back(LeaveSource());
        m_copyOf = origin;
        origin->m_copies.push_back(this);
    }
    OweOpaqueAlpha(source.OwesOpaqueAlpha());
}

ComPtr<Texture2D> Texture2D::LeaveSource() {
    auto& siblings = m_copyOf->m_copies;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    return std::move(m_copyOf);
}

ComPtr<Texture2D> Texture2D::TakeSourceBytes() {
    std::memcpy(Storage(), m_copyOf->Storage(), StorageSize());
    return LeaveSource();
}

void Texture2D::GiveCopiesTheirBytes(std::unique_lock<std::mutex>& lock,
                                     std::vector<ComPtr<Texture2D>>& released) {
    // The bytes move outside the lock, so that colour reads of other textures go on meanwhile (filling
    // fresh pages takes tens of milliseconds here). The copies stay linked until their bytes are in place;
    // neither their destruction nor their own writers get past them while they are filled.
    const std::vector<Texture2D*> copies = m_copies;
    for (Texture2D* copy : copies)
        copy->m_takingBytes = true;
    lock.unlock();
    for (Texture2D* copy : copies)
        std::memcpy(copy->Storage(), Storage(), StorageSize());
    lock.lock();
    for (Texture2D* copy : copies) {
        copy->m_takingBytes = false;
        // Linked elsewhere meanwhile: the bytes it took are simply not read.
        if (copy->m_copyOf.Get() == this)
            released.push_back(copy->LeaveSource());
    }
    g_copiesChanged.notify_all();
}

void Texture2D::LetGoOfBytes(std::unique_lock<std::mutex>& lock, std::vector<ComPtr<Texture2D>>& released) {
    // A colour read of this texture may be one of a copy's: it is waited for, and copies made meanwhile
    // take their bytes too. A copy whose bytes its source is filling waits for them.
    for (;;) {
        if (!m_copies.empty())
            GiveCopiesTheirBytes(lock, released);
        else if (m_colourReaders != 0 || m_takingBytes)
            g_copiesChanged.wait(lock);
        else
            break;
    }
}

void Texture2D::PrepareForWrite() {
    std::vector<ComPtr<Texture2D>> released;
    std::unique_lock lock(g_copyMutex);
    LetGoOfBytes(lock, released);
    if (m_copyOf)
        released.push_back(TakeSourceBytes());
}

void Texture2D::Discard() {
    std::vector<ComPtr<Texture2D>> released; // after the lock: a last reference takes the lock again
    std::unique_lock lock(g_copyMutex);
    LetGoOfBytes(lock, released);
    if (m_copyOf)
        released.push_back(LeaveSource());
    OweOpaqueAlpha(false);
    // A segment's pages are the display server's too; private pages are zero again when next touched.
    if (SharedMemoryId() < 0)
        madvise(Storage(), StorageSize(), MADV_DONTNEED);
}

void Texture2D::PrepareBytes() {
    PrepareForWrite();
    PayOpaqueAlpha();
}

Texture2D::ColourRead Texture2D::BeginColourRead(UINT subresource) {
    std::lock_guard lock(g_copyMutex);
    ComPtr<Texture2D> holder = m_copyOf ? m_copyOf : ComPtr<Texture2D>(this);
    ++holder->m_colourReaders;
    // Same shape, so the same layout.
    return ColourRead{holder->SubresourceData(subresource), std::move(holder)};
}

void Texture2D::EndColourRead(ComPtr<Texture2D> holder) {
    if (!holder)
        return;
    {
        std::lock_guard lock(g_copyMutex);
        --holder->m_colourReaders;
    }
    g_copiesChanged.notify_all();
}

void Texture2D::PayOpaqueAlpha() {
    if (!OwesOpaqueAlpha())
        return;
    std::lock_guard lock(m_alphaMutex);
    if (!OwesOpaqueAlpha())
        return;
    if (m_desc.Format == DXGI_FORMAT_B8G8R8A8_UNORM) {
        for (UINT sub = 0; sub < m_desc.ArraySize; ++sub) {
            const x11::FrameTarget pixels{SubresourceData(sub), m_rowPitch, m_desc.Width, m_desc.Height};
            x11::CopyPixels(pixels.data, pixels.rowPitch, pixels.width, pixels.height, true, pixels);
        }
    }
    OweOpaqueAlpha(false);
}

bool Texture2D::BeginMap(UINT subresource) {
    std::lock_guard lock(m_mapMutex);
    if (m_mapped[subresource])
        return false;
    m_mapped[subresource] = true;
    return true;
}

bool Texture2D::EndMap(UINT subresource) {
    std::lock_guard lock(m_mapMutex);
    const bool wasMapped = m_mapped[subresource];
    m_mapped[subresource] = false;
    return wasMapped;
}

void Texture2D::GetDevice(ID3D11Device** device) {
    if (device != nullptr)
        m_device.CopyTo(device);
}

void Texture2D::GetType(D3D11_RESOURCE_DIMENSION* dimension) {
    if (dimension != nullptr)
        *dimension = D3D11_RESOURCE_DIMENSION_TEXTURE2D;
}

void Texture2D::GetDesc(D3D11_TEXTURE2D_DESC* desc) {
    if (desc != nullptr)
        *desc = m_desc;
}

HRESULT Texture2D::GetParent(REFIID riid, void** parent) { return GetDevice(riid, parent); }

HRESULT Texture2D::GetDevice(REFIID riid, void** device) {
    if (device == nullptr)
        return E_POINTER;
    *device = nullptr;
    return m_device ? m_device->QueryInterface(riid, device) : E_NOINTERFACE;
}

HRESULT Texture2D::GetUsage(UINT* usage) {
    if (usage == nullptr)
        return E_POINTER;
    *usage = 0;
    return S_OK;
}
