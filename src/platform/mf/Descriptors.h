#pragma once
// What a media source offers: stream descriptors (an identifier and the media types of one stream, through
// its media type handler) and the presentation descriptor that lists them with their selection.

#include "MediaType.h"

struct IMFMediaTypeHandler : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE IsMediaTypeSupported(IMFMediaType* pMediaType,
                                                           IMFMediaType** ppMediaType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTypeCount(DWORD* pdwTypeCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTypeByIndex(DWORD dwIndex, IMFMediaType** ppType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCurrentMediaType(IMFMediaType* pMediaType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentMediaType(IMFMediaType** ppMediaType) = 0;
    // The current type's major type, or the first offered type's while none is current.
    virtual HRESULT STDMETHODCALLTYPE GetMajorType(GUID* pguidMajorType) = 0;

protected:
    ~IMFMediaTypeHandler() = default;
};

PYX_INTERFACE_ID(IMFMediaTypeHandler, IUnknown, "e93dcf6c-4b07-4e1e-8123-aa16ed6eadf5");

struct IMFStreamDescriptor : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE GetStreamIdentifier(DWORD* pdwStreamIdentifier) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTypeHandler(IMFMediaTypeHandler** ppMediaTypeHandler) = 0;

protected:
    ~IMFStreamDescriptor() = default;
};

PYX_INTERFACE_ID(IMFStreamDescriptor, IMFAttributes, "56c03d9c-9dbb-45f5-ab4b-d80f47c05938");

struct IMFPresentationDescriptor : IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE GetStreamDescriptorCount(DWORD* pdwDescriptorCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamDescriptorByIndex(DWORD dwIndex, BOOL* pfSelected,
                                                                 IMFStreamDescriptor** ppDescriptor) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectStream(DWORD dwDescriptorIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeselectStream(DWORD dwDescriptorIndex) = 0;
    // A copy of the attributes and the selection; the stream descriptors themselves are shared.
    virtual HRESULT STDMETHODCALLTYPE Clone(IMFPresentationDescriptor** ppPresentationDescriptor) = 0;

protected:
    ~IMFPresentationDescriptor() = default;
};

PYX_INTERFACE_ID(IMFPresentationDescriptor, IMFAttributes, "03cb2711-24d7-4db6-a17f-f3a7a479a536");

HRESULT MFCreateStreamDescriptor(DWORD dwStreamIdentifier, DWORD cMediaTypes, IMFMediaType** apMediaTypes,
                                 IMFStreamDescriptor** ppDescriptor);
// Every stream starts deselected.
HRESULT MFCreatePresentationDescriptor(DWORD cStreamDescriptors, IMFStreamDescriptor** apStreamDescriptors,
                                       IMFPresentationDescriptor** ppPresentationDescriptor);
