#include "SampleGrabberSink.h"

#include "Util/HResultCheck.h"

HRESULT SampleGrabberSink::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr)
        return E_INVALIDARG;
    return ComObject::QueryInterface(riid, ppvObject);
}

SampleGrabberSink::SampleGrabberSink(IMFMediaType* mediaType, bool ignoreClock, IMFActivate** activate,
                                     HRESULT& hr) {
    hr = LogIfFailed(MFCreateSampleGrabberSinkActivate(mediaType, this, activate),
                     "hr = MFCreateSampleGrabberSinkActivate( mediaType, this, &activate )");
    // Packets go on as soon as they are encoded, not at their presentation time.
    if (SUCCEEDED(hr) && ignoreClock)
        hr = LogIfFailed((*activate)->SetUINT32(MF_SAMPLEGRABBERSINK_IGNORE_CLOCK, 1),
                         "hr = activate->SetUINT32( MF_SAMPLEGRABBERSINK_IGNORE_CLOCK, 1 )");
}
