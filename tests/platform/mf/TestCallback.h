#pragma once
// An IMFAsyncCallback that runs a function and can name the queue it wants.

#include <mfapi.h>
#include <wrl/implements.h>

#include <functional>

class TestCallback : public ComObject<IMFAsyncCallback> {
public:
    using Handler = std::function<HRESULT(IMFAsyncResult*)>;

    explicit TestCallback(Handler handler, DWORD queue = MFASYNC_CALLBACK_QUEUE_STANDARD,
                          bool hasParameters = true)
        : m_handler(std::move(handler)), m_queue(queue), m_hasParameters(hasParameters) {}

    HRESULT STDMETHODCALLTYPE GetParameters(DWORD* flags, DWORD* queue) override {
        if (!m_hasParameters)
            return E_NOTIMPL;
        *flags = 0;
        *queue = m_queue;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* result) override { return m_handler(result); }

    ULONG References() const { return RefCount(); }

private:
    Handler m_handler;
    DWORD m_queue;
    bool m_hasParameters;
};

// Holds one platform start-up for a test.
class PlatformStarted {
public:
    PlatformStarted() { m_result = MFStartup(MF_VERSION); }
    ~PlatformStarted() {
        if (SUCCEEDED(m_result))
            MFShutdown();
    }
    HRESULT Result() const { return m_result; }

private:
    HRESULT m_result;
};
