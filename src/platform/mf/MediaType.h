#pragma once
// IMFMediaType: an attribute store that describes a stream format.

#include "Attributes.h"

struct IMFMediaType : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE GetMajorType(GUID* pguidMajorType) = 0;

protected:
    ~IMFMediaType() = default;
};

PYX_INTERFACE_ID(IMFMediaType, IMFAttributes, "44ae0fa8-ea31-4109-8d2e-4cae4997c555");

HRESULT MFCreateMediaType(IMFMediaType** ppMFType);
