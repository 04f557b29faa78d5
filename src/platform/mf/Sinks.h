#pragma once
// Media sinks, their stream sinks, activation objects, and the sample grabber sink with its callbacks.

#include "Activate.h"
#include "Descriptors.h"
#include "EventQueue.h"
#include "Sample.h"

using MFTIME = LONGLONG;

struct IMFPresentationClock;

struct IMFClockStateSink : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnClockStart(MFTIME hnsSystemTime, LONGLONG llClockStartOffset) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClockStop(MFTIME hnsSystemTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClockPause(MFTIME hnsSystemTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClockRestart(MFTIME hnsSystemTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnClockSetRate(MFTIME hnsSystemTime, float flRate) = 0;

protected:
    ~IMFClockStateSink() = default;
};

PYX_INTERFACE_ID(IMFClockStateSink, IUnknown, "f6696e82-74f7-4f3d-a178-8a5e09c3659f");

struct IMFSampleGrabberSinkCallback : IMFClockStateSink {
    virtual HRESULT STDMETHODCALLTYPE OnSetPresentationClock(IMFPresentationClock* pPresentationClock) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnProcessSample(REFGUID guidMajorMediaType, DWORD dwSampleFlags,
                                                      LONGLONG llSampleTime, LONGLONG llSampleDuration,
                                                      const BYTE* pSampleBuffer, DWORD dwSampleSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnShutdown() = 0;

protected:
    ~IMFSampleGrabberSinkCallback() = default;
};

PYX_INTERFACE_ID(IMFSampleGrabberSinkCallback, IMFClockStateSink, "8c7b80bf-ee42-4b59-b1df-55668e1bdca8");

// A callback that also answers this interface gets OnProcessSampleEx, with the sample's attributes, instead
// of OnProcessSample.
struct IMFSampleGrabberSinkCallback2 : IMFSampleGrabberSinkCallback {
    virtual HRESULT STDMETHODCALLTYPE OnProcessSampleEx(REFGUID guidMajorMediaType, DWORD dwSampleFlags,
                                                        LONGLONG llSampleTime, LONGLONG llSampleDuration,
                                                        const BYTE* pSampleBuffer, DWORD dwSampleSize,
                                                        IMFAttributes* pAttributes) = 0;

protected:
    ~IMFSampleGrabberSinkCallback2() = default;
};

PYX_INTERFACE_ID(IMFSampleGrabberSinkCallback2, IMFSampleGrabberSinkCallback,
                 "ca86aa50-c46e-429e-ab27-16d6ac6844cb");

struct IMFStreamSink;

enum : DWORD {
    MEDIASINK_FIXED_STREAMS = 0x1,
    MEDIASINK_CANNOT_MATCH_CLOCK = 0x2,
    MEDIASINK_RATELESS = 0x4,
};

struct IMFMediaSink : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* pdwCharacteristics) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamSinkCount(DWORD* pcStreamSinkCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamSinkByIndex(DWORD dwIndex, IMFStreamSink** ppStreamSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamSinkById(DWORD dwStreamSinkIdentifier,
                                                        IMFStreamSink** ppStreamSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;

protected:
    ~IMFMediaSink() = default;
};

PYX_INTERFACE_ID(IMFMediaSink, IUnknown, "6ef2a660-47c0-4666-b13d-cbb717f2fa2c");

// A stream sink asks for each sample with MEStreamSinkRequestSample once its media sink's clock has started.
struct IMFStreamSink : IMFMediaEventGenerator {
    virtual HRESULT STDMETHODCALLTYPE GetMediaSink(IMFMediaSink** ppMediaSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIdentifier(DWORD* pdwIdentifier) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTypeHandler(IMFMediaTypeHandler** ppHandler) = 0;
    virtual HRESULT STDMETHODCALLTYPE ProcessSample(IMFSample* pSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE Flush() = 0;

protected:
    ~IMFStreamSink() = default;
};

PYX_INTERFACE_ID(IMFStreamSink, IMFMediaEventGenerator, "0a97b3cf-8e7c-4a3d-8f8c-0c843dc247fb");

// The activation object creates a media sink with one stream sink of the given type whose samples go to the
// callback.
HRESULT MFCreateSampleGrabberSinkActivate(IMFMediaType* pIMFMediaType,
                                          IMFSampleGrabberSinkCallback* pIMFSampleGrabberSinkCallback,
                                          IMFActivate** ppIActivate);

// UINT32 on the activation object: non-zero hands samples over as they arrive; otherwise each is held until
// its presentation time has come on the session's clock.
DEFINE_GUID(MF_SAMPLEGRABBERSINK_IGNORE_CLOCK, 0x0efda2c0, 0x2b69, 0x4e2e, 0xab, 0x8d, 0x46, 0xdc, 0xbf, 0xf7,
            0xd2, 0x5d);
