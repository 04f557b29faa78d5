#pragma once
// IUnknown, interface identities (__uuidof through a trait) and IID_PPV_ARGS.

#include <guiddef.h>

#include <type_traits>

// Identity of an interface or class: the IID (or CLSID) and the interface it derives from.
template <class T>
struct InterfaceTraits;

#define PYX_INTERFACE_ID(Type, BaseType, iidText)                                                            \
    template <>                                                                                              \
    struct InterfaceTraits<Type> {                                                                           \
        static constexpr GUID iid = GuidFromString(iidText);                                                 \
        using Base = BaseType;                                                                               \
    }

#define PYX_CLASS_ID(Type, clsidText) PYX_INTERFACE_ID(Type, void, clsidText)

template <class T>
constexpr const GUID& UuidOf() {
    return InterfaceTraits<std::remove_cv_t<T>>::iid;
}

#define __uuidof(Type) (::UuidOf<Type>())

namespace Microsoft::WRL {
template <class T>
class ComPtr;
namespace Details {
template <class T>
class ComPtrRef;
} // namespace Details
} // namespace Microsoft::WRL

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

    template <class Q>
    HRESULT QueryInterface(Q** pp) {
        return QueryInterface(UuidOf<Q>(), reinterpret_cast<void**>(pp));
    }
    // `&comPtr` as the out argument. Deduced from the ComPtr itself, so that no other argument makes a
    // compiler instantiate ComPtrRef for a type that is not a ComPtr.
    template <class T>
    HRESULT QueryInterface(Microsoft::WRL::Details::ComPtrRef<Microsoft::WRL::ComPtr<T>> ref) {
        return QueryInterface(static_cast<T**>(ref));
    }

protected:
    ~IUnknown() = default;
};

PYX_INTERFACE_ID(IUnknown, void, "00000000-0000-0000-c000-000000000046");

inline constexpr IID IID_IUnknown = GuidFromString("00000000-0000-0000-c000-000000000046");

// The interface an out argument of IID_PPV_ARGS receives: T for T**, and for `&comPtr` (specialised in
// ComPtr.h).
template <class P>
struct PpvTarget {
    using type = std::remove_pointer_t<std::remove_pointer_t<P>>;
};

template <class T>
void** IidPpvArgsHelper(T** pp) {
    static_assert(std::is_base_of_v<IUnknown, T>, "IID_PPV_ARGS needs an interface pointer");
    return reinterpret_cast<void**>(pp);
}

#define IID_PPV_ARGS(ppType)                                                                                 \
    ::UuidOf<typename ::PpvTarget<decltype(ppType)>::type>(), ::IidPpvArgsHelper(ppType)
