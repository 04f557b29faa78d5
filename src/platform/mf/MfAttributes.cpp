#include "AttributesBase.h"
#include <wrl/implements.h>

namespace {

class MfAttributes final : public AttributesBase<IMFAttributes> {};

} // namespace

HRESULT MFCreateAttributes(IMFAttributes** ppMFAttributes, UINT32) {
    return CreateObject<MfAttributes>(ppMFAttributes);
}
