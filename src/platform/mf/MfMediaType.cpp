#include "AttributesBase.h"
#include <mfapi.h>
#include <mfobjects.h>
#include <wrl/implements.h>

namespace {

class MfMediaType final : public AttributesBase<IMFMediaType> {
public:
    HRESULT STDMETHODCALLTYPE GetMajorType(GUID* pguidMajorType) override {
        return m_attributes.GetGUID(MF_MT_MAJOR_TYPE, pguidMajorType);
    }
};

} // namespace

HRESULT MFCreateMediaType(IMFMediaType** ppMFType) { return CreateObject<MfMediaType>(ppMFType); }
