#pragma once
// Keeps exceptions from crossing a COM method, and hands new platform objects out through out-pointers.

#include "platform/win/ComObject.h"

#include <new>
#include <utility>

template <class Body>
HRESULT NoThrow(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
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
