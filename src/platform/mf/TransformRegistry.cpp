#include "TransformRegistry.h"

#include <combaseapi.h>
#include <wrl/implements.h>

namespace {

bool Matches(const std::vector<MFT_REGISTER_TYPE_INFO>& declared, const MFT_REGISTER_TYPE_INFO* wanted) {
    if (wanted == nullptr)
        return true;
    for (const MFT_REGISTER_TYPE_INFO& type : declared)
        if ((wanted->guidMajorType == GUID_NULL || type.guidMajorType == wanted->guidMajorType) &&
            (wanted->guidSubtype == GUID_NULL || type.guidSubtype == wanted->guidSubtype))
            return true;
    return false;
}

bool KindWanted(UINT32 kind, UINT32 flags) {
    if (kind == MFT_ENUM_FLAG_HARDWARE)
        return (flags & MFT_ENUM_FLAG_HARDWARE) != 0;
    if (kind == MFT_ENUM_FLAG_ASYNCMFT)
        return (flags & MFT_ENUM_FLAG_ASYNCMFT) != 0;
    return (flags & MFT_ENUM_FLAG_SYNCMFT) != 0;
}

} // namespace

HRESULT TransformRegistry::Enumerate(REFGUID category, UINT32 flags, const MFT_REGISTER_TYPE_INFO* inputType,
                                     const MFT_REGISTER_TYPE_INFO* outputType, IMFActivate*** activates,
                                     UINT32* count) const {
    if (activates == nullptr || count == nullptr)
        return E_POINTER;
    *activates = nullptr;
    *count = 0;
    if (flags == 0)
        flags = MFT_ENUM_FLAG_SYNCMFT;
    return NoThrow([&] {
        std::vector<ComPtr<IMFActivate>> found;
        for (const TransformClass& transformClass : m_classes) {
            if (transformClass.category != category || !KindWanted(transformClass.kind, flags) ||
                !Matches(transformClass.inputTypes, inputType) ||
                !Matches(transformClass.outputTypes, outputType))
                continue;
            ComPtr<IMFActivate> activate;
            const HRESULT hr = CreateTransformActivate(transformClass, &activate);
            if (FAILED(hr))
                return hr;
            found.push_back(std::move(activate));
        }
        if (found.empty())
            return S_OK;
        auto** array = static_cast<IMFActivate**>(CoTaskMemAlloc(found.size() * sizeof(IMFActivate*)));
        if (array == nullptr)
            return E_OUTOFMEMORY;
        for (std::size_t i = 0; i < found.size(); ++i)
            array[i] = found[i].Detach();
        *activates = array;
        *count = static_cast<UINT32>(found.size());
        return S_OK;
    });
}

HRESULT TransformRegistry::Create(REFCLSID clsid, IMFTransform** transform) const {
    if (transform == nullptr)
        return E_POINTER;
    *transform = nullptr;
    for (const TransformClass& transformClass : m_classes)
        if (transformClass.clsid == clsid)
            return NoThrow([&] { return transformClass.create(transform); });
    return REGDB_E_CLASSNOTREG;
}
