#pragma once
// Reference-counting smart pointer for interfaces, with the members of the Windows one.

#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace Microsoft::WRL {

template <class T>
class ComPtr;

namespace Details {

// What `&comPtr` gives, as on Windows: converts to T** (releasing what is held, for out arguments), to
// ComPtr<T>* (for As) and to void**.
template <class C>
class ComPtrRef {
public:
    using InterfaceType = typename C::InterfaceType;

    explicit ComPtrRef(C* ptr) noexcept : m_ptr(ptr) {}
    operator C*() const noexcept { return m_ptr; }
    operator InterfaceType**() const noexcept { return m_ptr->ReleaseAndGetAddressOf(); }
    operator void**() const noexcept { return reinterpret_cast<void**>(m_ptr->ReleaseAndGetAddressOf()); }
    InterfaceType* operator*() const noexcept { return m_ptr->Get(); }

private:
    C* m_ptr;
};

} // namespace Details

template <class T>
class ComPtr {
public:
    using InterfaceType = T;

    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    template <class U>
    ComPtr(U* p) noexcept : m_ptr(p) {
        InternalAddRef();
    }
    ComPtr(const ComPtr& other) noexcept : m_ptr(other.m_ptr) { InternalAddRef(); }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(const ComPtr<U>& other) noexcept : m_ptr(other.Get()) {
        InternalAddRef();
    }
    ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(ComPtr<U>&& other) noexcept : m_ptr(other.Detach()) {}
    ~ComPtr() { InternalRelease(); }

    ComPtr& operator=(std::nullptr_t) noexcept {
        InternalRelease();
        return *this;
    }
    ComPtr& operator=(T* p) noexcept {
        ComPtr(p).Swap(*this);
        return *this;
    }
    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }

    void Swap(ComPtr& other) noexcept { std::swap(m_ptr, other.m_ptr); }

    T* Get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    T& operator*() const noexcept { return *m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    T* const* GetAddressOf() const noexcept { return &m_ptr; }
    T** GetAddressOf() noexcept { return &m_ptr; }
    T** ReleaseAndGetAddressOf() noexcept {
        InternalRelease();
        return &m_ptr;
    }
    // Like the Windows one: as an out argument, taking the address releases what is held.
    Details::ComPtrRef<ComPtr> operator&() noexcept { return Details::ComPtrRef<ComPtr>(this); }

    T* Detach() noexcept { return std::exchange(m_ptr, nullptr); }
    void Attach(T* p) noexcept {
        InternalRelease();
        m_ptr = p;
    }
    ULONG Reset() noexcept { return InternalRelease(); }

    HRESULT CopyTo(T** pp) const noexcept {
        if (pp == nullptr)
            return E_POINTER;
        InternalAddRef();
        *pp = m_ptr;
        return S_OK;
    }
    template <class U>
    HRESULT CopyTo(U** pp) const noexcept {
        if (pp == nullptr)
            return E_POINTER;
        if (m_ptr == nullptr) {
            *pp = nullptr;
            return E_POINTER;
        }
        return m_ptr->QueryInterface(UuidOf<U>(), reinterpret_cast<void**>(pp));
    }
    template <class U>
    HRESULT As(Details::ComPtrRef<ComPtr<U>> out) const noexcept {
        return As(static_cast<ComPtr<U>*>(out));
    }
    template <class U>
    HRESULT As(ComPtr<U>* out) const noexcept {
        if (m_ptr == nullptr)
            return E_POINTER;
        return m_ptr->QueryInterface(UuidOf<U>(), reinterpret_cast<void**>(out->ReleaseAndGetAddressOf()));
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.m_ptr == b.m_ptr; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.m_ptr == nullptr; }

private:
    void InternalAddRef() const noexcept {
        if (m_ptr != nullptr)
            m_ptr->AddRef();
    }
    ULONG InternalRelease() noexcept {
        ULONG count = 0;
        if (T* p = std::exchange(m_ptr, nullptr))
            count = p->Release();
        return count;
    }

    T* m_ptr = nullptr;
};

} // namespace Microsoft::WRL

using Microsoft::WRL::ComPtr;

template <class C>
struct PpvTarget<Microsoft::WRL::Details::ComPtrRef<C>> {
    using type = typename C::InterfaceType;
};

template <class C>
void** IidPpvArgsHelper(Microsoft::WRL::Details::ComPtrRef<C> ref) {
    return IidPpvArgsHelper(static_cast<typename C::InterfaceType**>(ref));
}
