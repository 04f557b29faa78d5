#pragma once
// IMFAttributes: the GUID-keyed value store under media types, samples, events and configuration objects.

#include "platform/win/PropVariant.h"
#include "platform/win/Unknown.h"

enum MF_ATTRIBUTE_TYPE : VARTYPE {
    MF_ATTRIBUTE_UINT32 = VT_UI4,
    MF_ATTRIBUTE_UINT64 = VT_UI8,
    MF_ATTRIBUTE_DOUBLE = VT_R8,
    MF_ATTRIBUTE_GUID = VT_CLSID,
    MF_ATTRIBUTE_STRING = VT_LPWSTR,
    MF_ATTRIBUTE_BLOB = VT_VECTOR | VT_UI1,
    MF_ATTRIBUTE_IUNKNOWN = VT_UNKNOWN,
};

enum MF_ATTRIBUTES_MATCH_TYPE : int {
    MF_ATTRIBUTES_MATCH_OUR_ITEMS = 0,
    MF_ATTRIBUTES_MATCH_THEIR_ITEMS = 1,
    MF_ATTRIBUTES_MATCH_ALL_ITEMS = 2,
    MF_ATTRIBUTES_MATCH_INTERSECTION = 3,
    MF_ATTRIBUTES_MATCH_SMALLER = 4,
};

struct IMFAttributes : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetItem(REFGUID guidKey, PROPVARIANT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemType(REFGUID guidKey, MF_ATTRIBUTE_TYPE* pType) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompareItem(REFGUID guidKey, REFPROPVARIANT Value, BOOL* pbResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE Compare(IMFAttributes* pTheirs, MF_ATTRIBUTES_MATCH_TYPE MatchType,
                                              BOOL* pbResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID guidKey, UINT32* punValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID guidKey, UINT64* punValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDouble(REFGUID guidKey, double* pfValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGUID(REFGUID guidKey, GUID* pguidValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID guidKey, UINT32* pcchLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetString(REFGUID guidKey, LPWSTR pwszValue, UINT32 cchBufSize,
                                                UINT32* pcchLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID guidKey, LPWSTR* ppwszValue,
                                                         UINT32* pcchLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID guidKey, UINT32* pcbBlobSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBlob(REFGUID guidKey, UINT8* pBuf, UINT32 cbBufSize,
                                              UINT32* pcbBlobSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllocatedBlob(REFGUID guidKey, UINT8** ppBuf, UINT32* pcbSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID guidKey, REFIID riid, LPVOID* ppv) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetItem(REFGUID guidKey, REFPROPVARIANT Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID guidKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteAllItems() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID guidKey, UINT32 unValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID guidKey, UINT64 unValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDouble(REFGUID guidKey, double fValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guidKey, REFGUID guidValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetString(REFGUID guidKey, LPCWSTR wszValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBlob(REFGUID guidKey, const UINT8* pBuf, UINT32 cbBufSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID guidKey, IUnknown* pUnknown) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockStore() = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockStore() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCount(UINT32* pcItems) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemByIndex(UINT32 unIndex, GUID* pguidKey, PROPVARIANT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* pDest) = 0;

protected:
    ~IMFAttributes() = default;
};

PYX_INTERFACE_ID(IMFAttributes, IUnknown, "2cd2d921-c447-44a7-a13c-4adabfc247e3");

HRESULT MFCreateAttributes(IMFAttributes** ppMFAttributes, UINT32 cInitialSize);

// Two 32-bit values packed into one UINT64 attribute (high word first), as frame sizes and ratios are stored.
inline UINT64 Pack2UINT32AsUINT64(UINT32 high, UINT32 low) { return (UINT64(high) << 32) | low; }

inline void Unpack2UINT32AsUINT64(UINT64 packed, UINT32* high, UINT32* low) {
    *high = static_cast<UINT32>(packed >> 32);
    *low = static_cast<UINT32>(packed);
}

inline HRESULT MFGetAttribute2UINT32asUINT64(IMFAttributes* attributes, REFGUID key, UINT32* high,
                                             UINT32* low) {
    UINT64 packed = 0;
    const HRESULT hr = attributes->GetUINT64(key, &packed);
    if (SUCCEEDED(hr))
        Unpack2UINT32AsUINT64(packed, high, low);
    return hr;
}

inline HRESULT MFSetAttribute2UINT32asUINT64(IMFAttributes* attributes, REFGUID key, UINT32 high,
                                             UINT32 low) {
    return attributes->SetUINT64(key, Pack2UINT32AsUINT64(high, low));
}

inline HRESULT MFGetAttributeSize(IMFAttributes* attributes, REFGUID key, UINT32* width, UINT32* height) {
    return MFGetAttribute2UINT32asUINT64(attributes, key, width, height);
}

inline HRESULT MFSetAttributeSize(IMFAttributes* attributes, REFGUID key, UINT32 width, UINT32 height) {
    return MFSetAttribute2UINT32asUINT64(attributes, key, width, height);
}

inline HRESULT MFGetAttributeRatio(IMFAttributes* attributes, REFGUID key, UINT32* numerator,
                                   UINT32* denominator) {
    return MFGetAttribute2UINT32asUINT64(attributes, key, numerator, denominator);
}

inline HRESULT MFSetAttributeRatio(IMFAttributes* attributes, REFGUID key, UINT32 numerator,
                                   UINT32 denominator) {
    return MFSetAttribute2UINT32asUINT64(attributes, key, numerator, denominator);
}

inline UINT32 MFGetAttributeUINT32(IMFAttributes* attributes, REFGUID key, UINT32 defaultValue) {
    UINT32 value = 0;
    return SUCCEEDED(attributes->GetUINT32(key, &value)) ? value : defaultValue;
}
