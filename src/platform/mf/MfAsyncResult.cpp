#include "MfAsyncResult.h"

#include <wrl/implements.h>

namespace {

HRESULT HandOut(const ComPtr<IUnknown>& held, IUnknown** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    // Windows answers E_POINTER when the result carries no such object.
    if (!held)
        return E_POINTER;
    return held.CopyTo(out);
}

} // namespace

HRESULT MfAsyncResult::GetState(IUnknown** ppunkState) { return HandOut(m_state, ppunkState); }

HRESULT MfAsyncResult::GetObject(IUnknown** ppObject) { return HandOut(m_object, ppObject); }

HRESULT MFCreateAsyncResult(IUnknown* punkObject, IMFAsyncCallback* pCallback, IUnknown* punkState,
                            IMFAsyncResult** ppAsyncResult) {
    return CreateObject<MfAsyncResult>(ppAsyncResult, punkObject, pCallback, punkState);
}
