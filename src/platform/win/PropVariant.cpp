#include <propidl.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

void* CoTaskMemAlloc(SIZE_T size) { return std::malloc(size == 0 ? 1 : size); }

void CoTaskMemFree(void* memory) { std::free(memory); }

namespace {

// Kinds held entirely inside the PROPVARIANT: nothing to free, a plain copy duplicates them.
bool IsInline(VARTYPE type) {
    switch (type) {
    case VT_EMPTY:
    case VT_R8:
    case VT_BOOL:
    case VT_UI1:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
        return true;
    default:
        return false;
    }
}

// Duplicates what the value owns into copy (already a shallow copy of source).
HRESULT CopyOwned(const PROPVARIANT& source, PROPVARIANT& copy) {
    switch (source.vt) {
    case VT_UNKNOWN:
        if (copy.punkVal != nullptr)
            copy.punkVal->AddRef();
        return S_OK;
    case VT_LPWSTR: {
        if (source.pwszVal == nullptr)
            return S_OK;
        const std::size_t bytes = (std::wcslen(source.pwszVal) + 1) * sizeof(wchar_t);
        copy.pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (copy.pwszVal == nullptr)
            return E_OUTOFMEMORY;
        std::memcpy(copy.pwszVal, source.pwszVal, bytes);
        return S_OK;
    }
    case VT_CLSID:
        if (source.puuid == nullptr)
            return S_OK;
        copy.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
        if (copy.puuid == nullptr)
            return E_OUTOFMEMORY;
        *copy.puuid = *source.puuid;
        return S_OK;
    case VT_VECTOR | VT_UI1:
        copy.caub.pElems = static_cast<UINT8*>(CoTaskMemAlloc(source.caub.cElems));
        if (copy.caub.pElems == nullptr)
            return E_OUTOFMEMORY;
        if (source.caub.cElems > 0)
            std::memcpy(copy.caub.pElems, source.caub.pElems, source.caub.cElems);
        return S_OK;
    case VT_BLOB:
        copy.blob.pBlobData = static_cast<BYTE*>(CoTaskMemAlloc(source.blob.cbSize));
        if (copy.blob.pBlobData == nullptr)
            return E_OUTOFMEMORY;
        if (source.blob.cbSize > 0)
            std::memcpy(copy.blob.pBlobData, source.blob.pBlobData, source.blob.cbSize);
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

} // namespace

HRESULT PropVariantClear(PROPVARIANT* value) {
    if (value == nullptr)
        return S_OK;
    switch (value->vt) {
    case VT_UNKNOWN:
        if (value->punkVal != nullptr)
            value->punkVal->Release();
        break;
    case VT_LPWSTR:
        CoTaskMemFree(value->pwszVal);
        break;
    case VT_CLSID:
        CoTaskMemFree(value->puuid);
        break;
    case VT_VECTOR | VT_UI1:
        CoTaskMemFree(value->caub.pElems);
        break;
    case VT_BLOB:
        CoTaskMemFree(value->blob.pBlobData);
        break;
    default:
        if (!IsInline(value->vt))
            return E_INVALIDARG;
    }
    PropVariantInit(value);
    return S_OK;
}

HRESULT PropVariantCopy(PROPVARIANT* destination, const PROPVARIANT* source) {
    if (destination == nullptr || source == nullptr)
        return E_POINTER;
    PROPVARIANT copy = *source;
    const HRESULT hr = IsInline(source->vt) ? S_OK : CopyOwned(*source, copy);
    if (FAILED(hr)) {
        PropVariantInit(destination);
        return hr;
    }
    *destination = copy;
    return S_OK;
}
