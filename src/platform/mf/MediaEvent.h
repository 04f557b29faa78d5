#pragma once
// IMFMediaEvent: an event of a media object: type, extended type, status and a value, plus attributes.

#include "Attributes.h"

using MediaEventType = DWORD;

enum : MediaEventType {
    MEUnknown = 0,
    MEError = 1,
    MEExtendedType = 2,
    MENonFatalError = 3,
    MESessionUnknown = 100,
    MESessionTopologySet = 101,
    MESessionTopologiesCleared = 102,
    MESessionStarted = 103,
    MESessionPaused = 104,
    MESessionStopped = 105,
    MESessionClosed = 106,
    MESessionEnded = 107,
    MESessionTopologyStatus = 111,
    MESourceUnknown = 200,
    MESourceStarted = 201,
    MEStreamStarted = 202,
    MESourceSeeked = 203,
    MEStreamSeeked = 204,
    MENewStream = 205,
    MEUpdatedStream = 206,
    MESourceStopped = 207,
    MEStreamStopped = 208,
    MESourcePaused = 209,
    MEStreamPaused = 210,
    MEEndOfPresentation = 211,
    MEEndOfStream = 212,
    MEMediaSample = 213,
    MEStreamTick = 214,
    MEStreamFormatChanged = 216,
    MESinkUnknown = 300,
    MEStreamSinkStarted = 301,
    MEStreamSinkStopped = 302,
    MEStreamSinkPaused = 303,
    MEStreamSinkRateChanged = 304,
    MEStreamSinkRequestSample = 305,
    MEStreamSinkMarker = 306,
    MEStreamSinkPrerolled = 307,
    MEStreamSinkFormatChanged = 309,
    METransformUnknown = 600,
    METransformNeedInput = 601,
    METransformHaveOutput = 602,
    METransformDrainComplete = 603,
    METransformMarker = 604,
};

struct IMFMediaEvent : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE GetType(MediaEventType* pmet) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetExtendedType(GUID* pguidExtendedType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStatus(HRESULT* phrStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(PROPVARIANT* pvValue) = 0;

protected:
    ~IMFMediaEvent() = default;
};

PYX_INTERFACE_ID(IMFMediaEvent, IMFAttributes, "df598932-f10c-4e39-bba2-c308f101daa3");

// pvValue may be null (an empty value).
HRESULT MFCreateMediaEvent(MediaEventType met, REFGUID guidExtendedType, HRESULT hrStatus,
                           const PROPVARIANT* pvValue, IMFMediaEvent** ppEvent);
