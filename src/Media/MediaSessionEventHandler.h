#pragma once
// Listens to a media session's event stream and reports every event with a failure status through ErrorSink.
// It keeps listening until a session call fails, which happens once the session is shut down; until then the
// session's event queue and the handler hold each other.

#include <mfidl.h>
#include <wrl/implements.h>

class MediaSessionEventHandler final : public ComObject<IMFAsyncCallback> {
public:
    static constexpr std::uint32_t ErrorCode = 3;

    // Hands the handler out even when the first BeginGetEvent fails; the result tells.
    static HRESULT CreateInstance(IMFMediaSession* session, MediaSessionEventHandler** handler);

    // A null out pointer gives E_INVALIDARG.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    HRESULT STDMETHODCALLTYPE GetParameters(DWORD* pdwFlags, DWORD* pdwQueue) override;
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* pAsyncResult) override;

private:
    explicit MediaSessionEventHandler(IMFMediaSession* session) : m_session(session) {}

    const ComPtr<IMFMediaSession> m_session;
};
