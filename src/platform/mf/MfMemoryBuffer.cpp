#include <mfobjects.h>
#include <wrl/implements.h>

#include <algorithm>
#include <atomic>
#include <new>

namespace {

// System memory: locking only hands out the pointer, so any number of threads may hold a lock at once.
class MfMemoryBuffer final : public ComObject<IMFMediaBuffer> {
public:
    MfMemoryBuffer(BYTE* data, DWORD maxLength, std::size_t alignment)
        : m_data(data), m_maxLength(maxLength), m_alignment(alignment) {}

    HRESULT STDMETHODCALLTYPE Lock(BYTE** ppbBuffer, DWORD* pcbMaxLength, DWORD* pcbCurrentLength) override {
        if (ppbBuffer == nullptr)
            return E_POINTER;
        *ppbBuffer = m_data;
        if (pcbMaxLength != nullptr)
            *pcbMaxLength = m_maxLength;
        if (pcbCurrentLength != nullptr)
            *pcbCurrentLength = m_currentLength.load();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Unlock() override { return S_OK; }

    HRESULT STDMETHODCALLTYPE GetCurrentLength(DWORD* pcbCurrentLength) override {
        if (pcbCurrentLength == nullptr)
            return E_POINTER;
        *pcbCurrentLength = m_currentLength.load();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetCurrentLength(DWORD cbCurrentLength) override {
        if (cbCurrentLength > m_maxLength)
            return E_INVALIDARG;
        m_currentLength = cbCurrentLength;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* pcbMaxLength) override {
        if (pcbMaxLength == nullptr)
            return E_POINTER;
        *pcbMaxLength = m_maxLength;
        return S_OK;
    }

private:
    ~MfMemoryBuffer() override { ::operator delete[](m_data, std::align_val_t(m_alignment)); }

    BYTE* const m_data;
    const DWORD m_maxLength;
    const std::size_t m_alignment;
    std::atomic<DWORD> m_currentLength{0};
};

HRESULT CreateBuffer(DWORD maxLength, std::size_t alignment, IMFMediaBuffer** buffer) {
    if (buffer == nullptr)
        return E_POINTER;
    *buffer = nullptr;
    // A zero-length buffer still hands out a valid pointer.
    auto* data = static_cast<BYTE*>(
        ::operator new[](std::max<std::size_t>(maxLength, 1), std::align_val_t(alignment), std::nothrow));
    if (data == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT hr = CreateObject<MfMemoryBuffer>(buffer, data, maxLength, alignment);
    if (FAILED(hr))
        ::operator delete[](data, std::align_val_t(alignment));
    return hr;
}

constexpr std::size_t MinimumAlignment = 16;
constexpr DWORD MaximumAlignmentFlags = 0xFFFF;

} // namespace

HRESULT MFCreateMemoryBuffer(DWORD cbMaxLength, IMFMediaBuffer** ppBuffer) {
    return CreateBuffer(cbMaxLength, MinimumAlignment, ppBuffer);
}

HRESULT MFCreateAlignedMemoryBuffer(DWORD cbMaxLength, DWORD fAlignmentFlags, IMFMediaBuffer** ppBuffer) {
    // The flags are the alignment minus one, so they must be one less than a power of two.
    if ((fAlignmentFlags & (fAlignmentFlags + 1)) != 0 || fAlignmentFlags > MaximumAlignmentFlags) {
        if (ppBuffer != nullptr)
            *ppBuffer = nullptr;
        return E_INVALIDARG;
    }
    return CreateBuffer(cbMaxLength,
                        std::max<std::size_t>(std::size_t(fAlignmentFlags) + 1, MinimumAlignment), ppBuffer);
}
