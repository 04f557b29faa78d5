#pragma once
// The media session: runs a topology. It starts the topology's sources, requests samples stream by stream,
// drives every transform and hands the results to the stream sinks; its event stream reports each command's
// completion (MESessionTopologySet, MESessionStarted, MESessionStopped, MESessionClosed) and MEError.

#include "EventQueue.h"
#include "Topology.h"

struct IMFMediaSession : IMFMediaEventGenerator {
    // Only one topology at a time; dwSetTopologyFlags must be 0.
    virtual HRESULT STDMETHODCALLTYPE SetTopology(DWORD dwSetTopologyFlags, IMFTopology* pTopology) = 0;
    // pguidTimeFormat may be null or GUID_NULL; the start position is handed to the sources.
    virtual HRESULT STDMETHODCALLTYPE Start(const GUID* pguidTimeFormat,
                                            const PROPVARIANT* pvarStartPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    // Synchronous: stops every worker, shuts the topology's media sinks down and releases the topology.
    // Sources stay with their owner. MF_E_INVALIDREQUEST from a callback on one of the session's own threads
    // (a sink callback), which the shutdown would have to wait for.
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;

protected:
    ~IMFMediaSession() = default;
};

PYX_INTERFACE_ID(IMFMediaSession, IMFMediaEventGenerator, "90377834-21d0-4dee-8214-ba2e3e6c1127");

// The configuration (may be null) is not read: the session never works ahead of its sinks, which is what
// MF_LOW_LATENCY asks for.
HRESULT MFCreateMediaSession(IMFAttributes* pConfiguration, IMFMediaSession** ppMediaSession);
