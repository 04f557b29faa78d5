#pragma once
// PROPVARIANT with the value kinds the media objects carry, and the COM task allocator that owns its strings
// and vectors.

#include <guiddef.h>
#include <unknwn.h>

using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_R8 = 5,
    VT_BOOL = 11,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_LPWSTR = 31,
    VT_BLOB = 65,
    VT_CLSID = 72,
    VT_VECTOR = 0x1000,
};

struct CAUB {
    ULONG cElems;
    UINT8* pElems;
};

// Bytes whose meaning the receiver knows, such as activation parameters.
struct BLOB {
    ULONG cbSize;
    BYTE* pBlobData;
};

struct PROPVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        UINT8 bVal;
        ULONG ulVal;
        LONGLONG hVal;
        ULONGLONG uhVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        CLSID* puuid;
        LPWSTR pwszVal;
        IUnknown* punkVal;
        CAUB caub;
        BLOB blob;
    };
};

using REFPROPVARIANT = const PROPVARIANT&;

void* CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(void* memory);

inline void PropVariantInit(PROPVARIANT* value) { *value = PROPVARIANT{}; }

// Frees what the value owns (string, GUID, vector, interface reference) and leaves it VT_EMPTY.
HRESULT PropVariantClear(PROPVARIANT* value);

// Deep copy; the destination is overwritten without being cleared first, as on Windows.
HRESULT PropVariantCopy(PROPVARIANT* destination, const PROPVARIANT* source);
