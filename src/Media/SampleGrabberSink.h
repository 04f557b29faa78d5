#pragma once
// The callback end of a sample grabber sink. Construction creates the platform's grabber sink activation
// object over this callback; clock and shutdown notifications are acknowledged and otherwise ignored.

#include <mfidl.h>
#include <wrl/implements.h>

class SampleGrabberSink : public ComObject<IMFSampleGrabberSinkCallback2> {
public:
    // A null out pointer gives E_INVALIDARG.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;

    HRESULT STDMETHODCALLTYPE OnClockStart(MFTIME, LONGLONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnClockStop(MFTIME) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnClockPause(MFTIME) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnClockRestart(MFTIME) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnClockSetRate(MFTIME, float) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnSetPresentationClock(IMFPresentationClock*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProcessSample(REFGUID, DWORD, LONGLONG, LONGLONG, const BYTE*,
                                              DWORD) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnShutdown() override { return S_OK; }

protected:
    // Creates the activation object for `mediaType` with this callback; `hr` tells whether that worked.
    SampleGrabberSink(IMFMediaType* mediaType, bool ignoreClock, IMFActivate** activate, HRESULT& hr);
    ~SampleGrabberSink() override = default;
};
