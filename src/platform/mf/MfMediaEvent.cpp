#include "AttributesBase.h"
#include <mfobjects.h>
#include <wrl/implements.h>

namespace {

class MfMediaEvent final : public AttributesBase<IMFMediaEvent> {
public:
    MfMediaEvent(MediaEventType type, REFGUID extendedType, HRESULT status, const PROPVARIANT& value)
        : m_type(type), m_extendedType(extendedType), m_status(status), m_value(value) {}

    HRESULT STDMETHODCALLTYPE GetType(MediaEventType* pmet) override {
        if (pmet == nullptr)
            return E_POINTER;
        *pmet = m_type;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetExtendedType(GUID* pguidExtendedType) override {
        if (pguidExtendedType == nullptr)
            return E_POINTER;
        *pguidExtendedType = m_extendedType;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetStatus(HRESULT* phrStatus) override {
        if (phrStatus == nullptr)
            return E_POINTER;
        *phrStatus = m_status;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetValue(PROPVARIANT* pvValue) override {
        if (pvValue == nullptr)
            return E_POINTER;
        return PropVariantCopy(pvValue, &m_value);
    }

private:
    ~MfMediaEvent() override { PropVariantClear(&m_value); }

    const MediaEventType m_type;
    const GUID m_extendedType;
    const HRESULT m_status;
    // Owned copy, made by the creator.
    PROPVARIANT m_value;
};

} // namespace

HRESULT MFCreateMediaEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                           const PROPVARIANT* pvValue, IMFMediaEvent** ppEvent) {
    if (ppEvent == nullptr)
        return E_POINTER;
    *ppEvent = nullptr;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (pvValue != nullptr) {
        const HRESULT hr = PropVariantCopy(&value, pvValue);
        if (FAILED(hr))
            return hr;
    }
    const HRESULT hr = CreateObject<MfMediaEvent>(ppEvent, met, guidExtendedType, hrStatus, value);
    if (FAILED(hr))
        PropVariantClear(&value);
    return hr;
}
