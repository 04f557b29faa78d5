#pragma once
// Reference-counted implementation base for platform objects: AddRef/Release with interlocked counting and a
// QueryInterface that answers every listed interface and the interfaces each one derives from.

#include <pyx/PlatformTrace.h>
#include <wrl/client.h>

#include <atomic>
#include <cassert>
#include <exception>
#include <new>
#include <tuple>
#include <utility>

template <class... Interfaces>
class ComObject : public Interfaces... {
    static_assert(sizeof...(Interfaces) > 0, "a COM object implements at least one interface");

public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refCount; }

    ULONG STDMETHODCALLTYPE Release() override {
        assert(m_refCount > 0 && "m_refCount > 0");
        const ULONG count = --m_refCount;
        if (count == 0)
            delete this;
        return count;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr)
            return E_POINTER;
        *ppvObject = nullptr;
        if (riid == IID_IUnknown) {
            *ppvObject = static_cast<IUnknown*>(static_cast<FirstInterface*>(this));
        } else if (!(FindInterface<Interfaces>(riid, ppvObject) || ...)) {
            *ppvObject = QueryExtraInterface(riid);
            if (*ppvObject == nullptr) {
                TraceUnknownInterface(typeid(*this), riid);
                return E_NOINTERFACE;
            }
        }
        AddRef();
        return S_OK;
    }

protected:
    virtual ~ComObject() = default;

    // Objects that answer interfaces outside their base list (aggregated helpers) return them here.
    virtual void* QueryExtraInterface(REFIID) { return nullptr; }

    ULONG RefCount() const { return m_refCount.load(); }

private:
    using FirstInterface = std::tuple_element_t<0, std::tuple<Interfaces...>>;

    template <class I>
    bool FindInterface(REFIID riid, void** ppv) {
        return FindInChain<I, I>(riid, ppv);
    }

    template <class Implemented, class Candidate>
    bool FindInChain(REFIID riid, void** ppv) {
        if constexpr (std::is_void_v<Candidate>) {
            return false;
        } else {
            if (riid == UuidOf<Candidate>()) {
                *ppv = static_cast<Candidate*>(static_cast<Implemented*>(this));
                return true;
            }
            return FindInChain<Implemented, typename InterfaceTraits<Candidate>::Base>(riid, ppv);
        }
    }

    std::atomic<ULONG> m_refCount{1};
};

// Creates a platform object with one reference held by the returned pointer.
template <class T, class... Args>
ComPtr<T> MakeComObject(Args&&... args) {
    ComPtr<T> object;
    object.Attach(new (std::nothrow) T(std::forward<Args>(args)...));
    return object;
}

// Keeps exceptions from crossing a COM method (each is traced with the method that stopped it), and hands new
// platform objects out through out-pointers.

template <class Body>
HRESULT NoThrow(Body&& body, const std::source_location& where = std::source_location::current()) noexcept {
    try {
        const HRESULT hr = body();
        if (FAILED(hr))
            TraceFailure(where, hr);
        return hr;
    } catch (const std::bad_alloc&) {
        TraceException(where, "out of memory");
        return E_OUTOFMEMORY;
    } catch (const std::exception& error) {
        TraceException(where, error.what());
        return E_UNEXPECTED;
    } catch (...) {
        TraceException(where, "an exception of unknown type");
        return E_UNEXPECTED;
    }
}

// Creates a T and hands it out as Interface; the out-pointer is null on failure.
template <class T, class Interface, class... Args>
HRESULT CreateObject(Interface** out, Args&&... args) noexcept {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    return NoThrow([&] {
        ComPtr<T> object = MakeComObject<T>(std::forward<Args>(args)...);
        if (!object)
            return E_OUTOFMEMORY;
        *out = object.Detach();
        return S_OK;
    });
}
