#include "AttributesBase.h"
#include "TransformRegistry.h"

#include <mutex>

namespace {

class TransformActivate final : public AttributesBase<IMFActivate> {
public:
    explicit TransformActivate(std::function<HRESULT(IMFTransform**)> create) : m_create(std::move(create)) {}

    HRESULT STDMETHODCALLTYPE ActivateObject(REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        std::lock_guard lock(m_mutex);
        return NoThrow([&] {
            if (!m_object) {
                ComPtr<IMFTransform> created;
                HRESULT hr = m_create(&created);
                ComPtr<IMFAttributes> attributes;
                if (SUCCEEDED(hr))
                    hr = created->GetAttributes(&attributes);
                if (SUCCEEDED(hr))
                    hr = CopyClientAttributes(attributes.Get());
                if (FAILED(hr))
                    return hr;
                m_object = std::move(created);
            }
            return m_object->QueryInterface(riid, ppv);
        });
    }

    // Transforms have no shutdown of their own.
    HRESULT STDMETHODCALLTYPE ShutdownObject() override { return DetachObject(); }

    HRESULT STDMETHODCALLTYPE DetachObject() override {
        ComPtr<IMFTransform> released;
        std::lock_guard lock(m_mutex);
        released = std::move(m_object);
        return S_OK;
    }

    // The description the registry gave.
    HRESULT Describe(const TransformClass& transformClass) {
        std::vector<UINT8> inputs = Blob(transformClass.inputTypes);
        std::vector<UINT8> outputs = Blob(transformClass.outputTypes);
        HRESULT hr = m_attributes.SetString(MFT_FRIENDLY_NAME_Attribute, transformClass.friendlyName.c_str());
        if (SUCCEEDED(hr))
            hr = m_attributes.SetGUID(MFT_TRANSFORM_CLSID_Attribute, transformClass.clsid);
        if (SUCCEEDED(hr))
            hr = m_attributes.SetGUID(MF_TRANSFORM_CATEGORY_Attribute, transformClass.category);
        if (SUCCEEDED(hr))
            hr = m_attributes.SetUINT32(MF_TRANSFORM_FLAGS_Attribute, transformClass.kind);
        if (SUCCEEDED(hr))
            hr = m_attributes.SetBlob(MFT_INPUT_TYPES_Attributes, inputs.data(),
                                      static_cast<UINT32>(inputs.size()));
        if (SUCCEEDED(hr))
            hr = m_attributes.SetBlob(MFT_OUTPUT_TYPES_Attributes, outputs.data(),
                                      static_cast<UINT32>(outputs.size()));
        if (SUCCEEDED(hr) && transformClass.kind != MFT_ENUM_FLAG_SYNCMFT)
            hr = m_attributes.SetUINT32(MF_TRANSFORM_ASYNC, TRUE);
        if (SUCCEEDED(hr) && !transformClass.vendorId.empty())
            hr = m_attributes.SetString(MFT_ENUM_HARDWARE_VENDOR_ID_Attribute,
                                        transformClass.vendorId.c_str());
        if (SUCCEEDED(hr) && !transformClass.hardwareUrl.empty())
            hr = m_attributes.SetString(MFT_ENUM_HARDWARE_URL_Attribute, transformClass.hardwareUrl.c_str());
        return hr;
    }

private:
    static std::vector<UINT8> Blob(const std::vector<MFT_REGISTER_TYPE_INFO>& types) {
        const auto* bytes = reinterpret_cast<const UINT8*>(types.data());
        return {bytes, bytes + types.size() * sizeof(MFT_REGISTER_TYPE_INFO)};
    }

    static bool Describes(REFGUID key) {
        for (const GUID* described :
             {&MFT_FRIENDLY_NAME_Attribute, &MFT_TRANSFORM_CLSID_Attribute, &MF_TRANSFORM_CATEGORY_Attribute,
              &MF_TRANSFORM_FLAGS_Attribute, &MFT_INPUT_TYPES_Attributes, &MFT_OUTPUT_TYPES_Attributes,
              &MF_TRANSFORM_ASYNC, &MFT_ENUM_HARDWARE_VENDOR_ID_Attribute, &MFT_ENUM_HARDWARE_URL_Attribute})
            if (key == *described)
                return true;
        return false;
    }

    // What the client added to the description (such as MF_LOW_LATENCY) goes on to the transform.
    HRESULT CopyClientAttributes(IMFAttributes* target) const {
        UINT32 count = 0;
        HRESULT hr = m_attributes.GetCount(&count);
        for (UINT32 index = 0; SUCCEEDED(hr) && index < count; ++index) {
            GUID key = GUID_NULL;
            PROPVARIANT value;
            PropVariantInit(&value);
            hr = m_attributes.GetItemByIndex(index, &key, &value);
            if (SUCCEEDED(hr) && !Describes(key))
                hr = target->SetItem(key, value);
            PropVariantClear(&value);
        }
        return hr;
    }

    const std::function<HRESULT(IMFTransform**)> m_create;
    std::mutex m_mutex;
    ComPtr<IMFTransform> m_object;
};

} // namespace

HRESULT CreateTransformActivate(const TransformClass& transformClass, IMFActivate** activate) {
    if (activate == nullptr)
        return E_POINTER;
    *activate = nullptr;
    return NoThrow([&] {
        ComPtr<TransformActivate> created = MakeComObject<TransformActivate>(transformClass.create);
        if (!created)
            return E_OUTOFMEMORY;
        const HRESULT hr = created->Describe(transformClass);
        if (SUCCEEDED(hr))
            *activate = created.Detach();
        return hr;
    });
}
