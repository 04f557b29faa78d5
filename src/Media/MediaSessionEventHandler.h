#pragma once
// Listens to a media session's event stream and reports every event with a failure status through ErrorSink
// and to the owner's failure callback, which logs it and has the capture replaced.
// It keeps listening until a session call fails, which happens once the session is shut down; until then the
// session's event queue and the handler hold each other.

#include <mfidl.h>
#include <wrl/implements.h>

#include <functional>

class MediaSessionEventHandler final : public ComObject<IMFAsyncCallback> {
public:
    static constexpr std::uint32_t ErrorCode = 3;

    // Called on a work-queue thread with the type and status of each failed event.
    using FailureCallback = std::function<void(MediaEventType type, HRESULT status)>;

    // Hands the handler out even when the first BeginGetEvent fails; the result tells.
    static HRESULT CreateInstance(IMFMediaSession* session, MediaSessionEventHandler** handler,
                                  FailureCallback onFailure = {});

    // A null out pointer gives E_INVALIDARG.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    HRESULT STDMETHODCALLTYPE GetParameters(DWORD* pdwFlags, DWORD* pdwQueue) override;
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* pAsyncResult) override;

private:
    MediaSessionEventHandler(IMFMediaSession* session, FailureCallback onFailure)
        : m_session(session), m_onFailure(std::move(onFailure)) {}

    const ComPtr<IMFMediaSession> m_session;
    const FailureCallback m_onFailure;
};
