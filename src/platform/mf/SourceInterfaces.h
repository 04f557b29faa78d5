#pragma once
// Media sources and their streams: the entry of a topology. A source announces its streams and state changes
// as events; a stream answers each RequestSample with one MEMediaSample event.

#include "Descriptors.h"
#include "EventQueue.h"
#include "Sample.h"

enum MFMEDIASOURCE_CHARACTERISTICS : DWORD {
    MFMEDIASOURCE_IS_LIVE = 0x1,
    MFMEDIASOURCE_CAN_SEEK = 0x2,
    MFMEDIASOURCE_CAN_PAUSE = 0x4,
    MFMEDIASOURCE_HAS_SLOW_SEEK = 0x8,
};

struct IMFMediaSource : IMFMediaEventGenerator {
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* pdwCharacteristics) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    CreatePresentationDescriptor(IMFPresentationDescriptor** ppPresentationDescriptor) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start(IMFPresentationDescriptor* pPresentationDescriptor,
                                            const GUID* pguidTimeFormat,
                                            const PROPVARIANT* pvarStartPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;

protected:
    ~IMFMediaSource() = default;
};

PYX_INTERFACE_ID(IMFMediaSource, IMFMediaEventGenerator, "279a808d-aec7-40c8-9c6b-a6b492c78a66");

struct IMFMediaStream : IMFMediaEventGenerator {
    virtual HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** ppMediaSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamDescriptor(IMFStreamDescriptor** ppStreamDescriptor) = 0;
    virtual HRESULT STDMETHODCALLTYPE RequestSample(IUnknown* pToken) = 0;

protected:
    ~IMFMediaStream() = default;
};

PYX_INTERFACE_ID(IMFMediaStream, IMFMediaEventGenerator, "d182108f-4ec6-443f-aa42-a71106ec825f");

// The token of the RequestSample a sample answers.
DEFINE_GUID(MFSampleExtension_Token, 0x8294da66, 0xf328, 0x4805, 0xb5, 0x51, 0x00, 0xde, 0xb4, 0xc5, 0x7a,
            0x61);
