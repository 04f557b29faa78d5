#include "AttributesBase.h"
#include "MfMediaTypeHandler.h"
#include <mfidl.h>
#include <wrl/implements.h>

namespace {

class MfStreamDescriptor final : public AttributesBase<IMFStreamDescriptor> {
public:
    MfStreamDescriptor(DWORD identifier, ComPtr<IMFMediaTypeHandler> handler)
        : m_identifier(identifier), m_handler(std::move(handler)) {}

    HRESULT STDMETHODCALLTYPE GetStreamIdentifier(DWORD* pdwStreamIdentifier) override {
        if (pdwStreamIdentifier == nullptr)
            return E_POINTER;
        *pdwStreamIdentifier = m_identifier;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetMediaTypeHandler(IMFMediaTypeHandler** ppMediaTypeHandler) override {
        return m_handler.CopyTo(ppMediaTypeHandler);
    }

private:
    const DWORD m_identifier;
    const ComPtr<IMFMediaTypeHandler> m_handler;
};

} // namespace

HRESULT MFCreateStreamDescriptor(DWORD dwStreamIdentifier, DWORD cMediaTypes, IMFMediaType** apMediaTypes,
                                 IMFStreamDescriptor** ppDescriptor) {
    if (ppDescriptor == nullptr)
        return E_POINTER;
    *ppDescriptor = nullptr;
    if (cMediaTypes == 0)
        return E_INVALIDARG;
    if (apMediaTypes == nullptr)
        return E_POINTER;
    return NoThrow([&] {
        std::vector<ComPtr<IMFMediaType>> types;
        for (DWORD i = 0; i < cMediaTypes; ++i) {
            if (apMediaTypes[i] == nullptr)
                return E_POINTER;
            types.emplace_back(apMediaTypes[i]);
        }
        auto handler = MakeComObject<MfMediaTypeHandler>(std::move(types), nullptr);
        if (!handler)
            return E_OUTOFMEMORY;
        return CreateObject<MfStreamDescriptor>(ppDescriptor, dwStreamIdentifier, std::move(handler));
    });
}
