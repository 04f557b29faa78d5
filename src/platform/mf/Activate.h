#pragma once
// IMFActivate: an attribute store that creates the object it describes on demand.

#include "Attributes.h"

struct IMFActivate : IMFAttributes {
    // Creates the object on the first call and hands out the same one until ShutdownObject or DetachObject.
    virtual HRESULT STDMETHODCALLTYPE ActivateObject(REFIID riid, void** ppv) = 0;
    // Shuts the created object down (where it has a shutdown) and forgets it.
    virtual HRESULT STDMETHODCALLTYPE ShutdownObject() = 0;
    // Forgets the created object without shutting it down.
    virtual HRESULT STDMETHODCALLTYPE DetachObject() = 0;

protected:
    ~IMFActivate() = default;
};

PYX_INTERFACE_ID(IMFActivate, IMFAttributes, "7fee9e9a-4a89-47a6-899c-b6a53a70fb67");
