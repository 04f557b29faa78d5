#pragma once
// A grabber sink callback that hands every sample, with its attributes, to a function object.

#include "SampleGrabberSink.h"

#include <functional>
#include <mutex>

class GenericGrabberSinkCallback final : public SampleGrabberSink {
public:
    using Function =
        std::function<void(REFGUID majorType, DWORD sampleFlags, LONGLONG sampleTime, LONGLONG sampleDuration,
                           const BYTE* buffer, DWORD bufferSize, IMFAttributes* attributes)>;

    // The activation object of a grabber sink that calls the new callback; both are null on failure.
    static HRESULT Create(IMFMediaType* mediaType, bool ignoreClock, IMFActivate** activate,
                          GenericGrabberSinkCallback** callback);

    void SetFunction(Function function);

    HRESULT STDMETHODCALLTYPE OnProcessSampleEx(REFGUID guidMajorMediaType, DWORD dwSampleFlags,
                                                LONGLONG llSampleTime, LONGLONG llSampleDuration,
                                                const BYTE* pSampleBuffer, DWORD dwSampleSize,
                                                IMFAttributes* pAttributes) override;

private:
    GenericGrabberSinkCallback(IMFMediaType* mediaType, bool ignoreClock, IMFActivate** activate, HRESULT& hr)
        : SampleGrabberSink(mediaType, ignoreClock, activate, hr) {}

    std::mutex m_mutex;
    Function m_function;
};
