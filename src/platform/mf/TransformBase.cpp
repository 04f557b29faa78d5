#include "TransformBase.h"

#include <mfapi.h>

HRESULT CopyMediaType(IMFMediaType* source, ComPtr<IMFMediaType>& copy) {
    if (source == nullptr)
        return E_POINTER;
    ComPtr<IMFMediaType> created;
    HRESULT hr = MFCreateMediaType(&created);
    if (SUCCEEDED(hr))
        hr = source->CopyAllItems(created.Get());
    if (SUCCEEDED(hr))
        copy = std::move(created);
    return hr;
}

HRESULT MakePartialType(REFGUID major, REFGUID subtype, ComPtr<IMFMediaType>& type) {
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr))
        hr = type->SetGUID(MF_MT_MAJOR_TYPE, major);
    if (SUCCEEDED(hr))
        hr = type->SetGUID(MF_MT_SUBTYPE, subtype);
    return hr;
}
