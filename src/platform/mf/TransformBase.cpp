#include "TransformBase.h"

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
