#include "MediaSessionEventHandler.h"

#include "Util/ErrorSink.h"
#include "Util/HResultCheck.h"
#include <wrl/implements.h>

HRESULT MediaSessionEventHandler::CreateInstance(IMFMediaSession* session, MediaSessionEventHandler** handler,
                                                 FailureCallback onFailure) {
    if (handler == nullptr)
        return E_POINTER;
    *handler = nullptr;
    if (session == nullptr)
        return E_INVALIDARG;
    return NoThrow([&] {
        ComPtr<MediaSessionEventHandler> created;
        created.Attach(new MediaSessionEventHandler(session, std::move(onFailure)));
        const HRESULT hr = session->BeginGetEvent(created.Get(), nullptr);
        *handler = created.Detach();
        return hr;
    });
}

HRESULT MediaSessionEventHandler::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr)
        return E_INVALIDARG;
    return ComObject::QueryInterface(riid, ppvObject);
}

HRESULT MediaSessionEventHandler::GetParameters(DWORD* pdwFlags, DWORD* pdwQueue) {
    if (pdwFlags == nullptr || pdwQueue == nullptr)
        return E_POINTER;
    *pdwFlags = MFASYNC_FAST_IO_PROCESSING_CALLBACK;
    *pdwQueue = MFASYNC_CALLBACK_QUEUE_STANDARD;
    return S_OK;
}

HRESULT MediaSessionEventHandler::Invoke(IMFAsyncResult* pAsyncResult) {
    ComPtr<IMFMediaEvent> mediaEvent;
    MediaEventType evType = MEUnknown;
    HRESULT hrStatus = S_OK;
    HRESULT hr = LogIfFailed(m_session->EndGetEvent(pAsyncResult, &mediaEvent),
                             "hr = m_session->EndGetEvent( pAsyncResult, &mediaEvent )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(mediaEvent->GetType(&evType), "hr = mediaEvent->GetType( &evType )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(mediaEvent->GetStatus(&hrStatus), "hr = mediaEvent->GetStatus( &hrStatus )");
    if (FAILED(hr))
        return hr;
    hr = LogIfFailed(m_session->BeginGetEvent(this, nullptr), "hr = m_session->BeginGetEvent( this, NULL )");
    // An event already taken is reported even when no further one can be asked for.
    if (FAILED(hrStatus)) {
        ErrorSink::report(ErrorCode, hrStatus,
                          "Capture session encountered an error and cannot continue (type=%lu/%08lX)",
                          static_cast<unsigned long>(evType),
                          static_cast<unsigned long>(static_cast<std::uint32_t>(hrStatus)));
        if (m_onFailure)
            m_onFailure(evType, hrStatus);
    }
    return hr;
}
