#include "AttributesBase.h"
#include "MfSampleGrabberSink.h"
#include <mferror.h>
#include <wrl/implements.h>

#include <mutex>

namespace {

// Creates the sample grabber sink on first activation, reading MF_SAMPLEGRABBERSINK_IGNORE_CLOCK then.
class MfSampleGrabberActivate final : public AttributesBase<IMFActivate> {
public:
    MfSampleGrabberActivate(IMFMediaType* mediaType, IMFSampleGrabberSinkCallback* callback)
        : m_mediaType(mediaType), m_callback(callback) {}

    HRESULT STDMETHODCALLTYPE ActivateObject(REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        std::lock_guard lock(m_mutex);
        if (!m_sink) {
            const bool ignoreClock = MFGetAttributeUINT32(this, MF_SAMPLEGRABBERSINK_IGNORE_CLOCK, 0) != 0;
            const HRESULT hr =
                MfSampleGrabberSink::Create(m_mediaType.Get(), m_callback.Get(), ignoreClock, m_sink);
            if (FAILED(hr))
                return hr;
        }
        return static_cast<IMFMediaSink*>(m_sink.Get())->QueryInterface(riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE ShutdownObject() override {
        ComPtr<MfSampleGrabberSink> sink;
        {
            std::lock_guard lock(m_mutex);
            sink.Swap(m_sink);
        }
        return sink ? sink->Shutdown() : S_OK;
    }

    HRESULT STDMETHODCALLTYPE DetachObject() override {
        ComPtr<MfSampleGrabberSink> sink;
        std::lock_guard lock(m_mutex);
        sink.Swap(m_sink);
        return S_OK;
    }

private:
    const ComPtr<IMFMediaType> m_mediaType;
    const ComPtr<IMFSampleGrabberSinkCallback> m_callback;
    std::mutex m_mutex;
    ComPtr<MfSampleGrabberSink> m_sink;
};

} // namespace

HRESULT MFCreateSampleGrabberSinkActivate(IMFMediaType* pIMFMediaType,
                                          IMFSampleGrabberSinkCallback* pIMFSampleGrabberSinkCallback,
                                          IMFActivate** ppIActivate) {
    if (ppIActivate != nullptr)
        *ppIActivate = nullptr;
    if (pIMFMediaType == nullptr || pIMFSampleGrabberSinkCallback == nullptr)
        return E_POINTER;
    return CreateObject<MfSampleGrabberActivate>(ppIActivate, pIMFMediaType, pIMFSampleGrabberSinkCallback);
}
