#include "GenericGrabberSinkCallback.h"

#include <wrl/implements.h>

HRESULT GenericGrabberSinkCallback::Create(IMFMediaType* mediaType, bool ignoreClock, IMFActivate** activate,
                                           GenericGrabberSinkCallback** callback) {
    if (activate == nullptr || callback == nullptr)
        return E_POINTER;
    *activate = nullptr;
    *callback = nullptr;
    return NoThrow([&] {
        HRESULT hr = S_OK;
        ComPtr<GenericGrabberSinkCallback> created;
        created.Attach(new GenericGrabberSinkCallback(mediaType, ignoreClock, activate, hr));
        if (FAILED(hr)) {
            if (*activate != nullptr)
                (*activate)->Release();
            *activate = nullptr;
            return hr;
        }
        *callback = created.Detach();
        return S_OK;
    });
}

void GenericGrabberSinkCallback::SetFunction(Function function) {
    std::lock_guard lock(m_mutex);
    m_function = std::move(function);
}

HRESULT GenericGrabberSinkCallback::OnProcessSampleEx(REFGUID guidMajorMediaType, DWORD dwSampleFlags,
                                                      LONGLONG llSampleTime, LONGLONG llSampleDuration,
                                                      const BYTE* pSampleBuffer, DWORD dwSampleSize,
                                                      IMFAttributes* pAttributes) {
    std::lock_guard lock(m_mutex);
    if (!m_function)
        return S_OK;
    return NoThrow([&] {
        m_function(guidMajorMediaType, dwSampleFlags, llSampleTime, llSampleDuration, pSampleBuffer,
                   dwSampleSize, pAttributes);
        return S_OK;
    });
}
