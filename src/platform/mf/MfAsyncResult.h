#pragma once
// The platform's IMFAsyncResult: the callback to invoke, the caller's state and an optional object.

#include <mfobjects.h>
#include <wrl/implements.h>

#include <atomic>

class MfAsyncResult final : public ComObject<IMFAsyncResult> {
public:
    MfAsyncResult(IUnknown* object, IMFAsyncCallback* callback, IUnknown* state)
        : m_object(object), m_callback(callback), m_state(state) {}

    HRESULT STDMETHODCALLTYPE GetState(IUnknown** ppunkState) override;
    HRESULT STDMETHODCALLTYPE GetStatus() override { return m_status.load(); }
    HRESULT STDMETHODCALLTYPE SetStatus(HRESULT hrStatus) override {
        m_status = hrStatus;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetObject(IUnknown** ppObject) override;
    IUnknown* STDMETHODCALLTYPE GetStateNoAddRef() override { return m_state.Get(); }

    IMFAsyncCallback* Callback() const { return m_callback.Get(); }

    // The platform result behind an interface pointer, or null for a foreign implementation.
    static MfAsyncResult* From(IMFAsyncResult* result) { return dynamic_cast<MfAsyncResult*>(result); }

private:
    const ComPtr<IUnknown> m_object;
    const ComPtr<IMFAsyncCallback> m_callback;
    const ComPtr<IUnknown> m_state;
    std::atomic<HRESULT> m_status{S_OK};
};
