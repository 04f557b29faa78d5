#pragma once
// ICodecAPI: the property interface through which encoders are configured, the VARIANT it passes values in,
// and the property keys with their value constants.

#include <propidl.h>

// The value container of ICodecAPI. Only the kinds encoder properties use are named.
struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        VARIANT_BOOL boolVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        UINT uintVal;
        double dblVal;
        IUnknown* punkVal;
    };
};

inline void VariantInit(VARIANT* value) { *value = VARIANT{}; }

inline HRESULT VariantClear(VARIANT* value) {
    if (value == nullptr)
        return E_INVALIDARG;
    if (value->vt == VT_UNKNOWN && value->punkVal != nullptr)
        value->punkVal->Release();
    *value = VARIANT{};
    return S_OK;
}

struct IStream;

struct ICodecAPI : IUnknown {
    // S_OK when the property is offered, E_NOTIMPL otherwise.
    virtual HRESULT STDMETHODCALLTYPE IsSupported(const GUID* Api) = 0;
    // S_OK when the property can be set now, S_FALSE when it is offered but fixed at this point.
    virtual HRESULT STDMETHODCALLTYPE IsModifiable(const GUID* Api) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParameterRange(const GUID* Api, VARIANT* ValueMin, VARIANT* ValueMax,
                                                        VARIANT* SteppingDelta) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParameterValues(const GUID* Api, VARIANT** Values,
                                                         ULONG* ValuesCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultValue(const GUID* Api, VARIANT* Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(const GUID* Api, VARIANT* Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue(const GUID* Api, VARIANT* Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterForEvent(const GUID* Api, LONG_PTR userData) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterForEvent(const GUID* Api) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAllDefaults() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValueWithNotify(const GUID* Api, VARIANT* Value, GUID** ChangedParam,
                                                         ULONG* ChangedParamCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAllDefaultsWithNotify(GUID** ChangedParam,
                                                               ULONG* ChangedParamCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllSettings(IStream* stream) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAllSettings(IStream* stream) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAllSettingsWithNotify(IStream* stream, GUID** ChangedParam,
                                                               ULONG* ChangedParamCount) = 0;

protected:
    ~ICodecAPI() = default;
};

PYX_INTERFACE_ID(ICodecAPI, IUnknown, "901db4c7-31ce-41a2-85dc-8fa0bf41b8da");

// Property keys.
DEFINE_GUID(CODECAPI_AVLowLatencyMode, 0x9c27891a, 0xed7a, 0x40e1, 0x88, 0xe8, 0xb2, 0x27, 0x27, 0xa0, 0x24,
            0xee);
DEFINE_GUID(CODECAPI_AVEncMPVGOPSize, 0x95f31b26, 0x95a4, 0x41aa, 0x93, 0x03, 0x24, 0x6a, 0x7f, 0xc6, 0xee,
            0xf1);
DEFINE_GUID(CODECAPI_AVEncCommonRateControlMode, 0x1c0608e9, 0x370c, 0x4710, 0x8a, 0x58, 0xcb, 0x61, 0x81,
            0xc4, 0x24, 0x23);
DEFINE_GUID(CODECAPI_AVEncH264CABACEnable, 0xee6cad62, 0xd305, 0x4248, 0xa5, 0x0e, 0xe1, 0xb2, 0x55, 0xf7,
            0xca, 0xf8);
DEFINE_GUID(CODECAPI_AVEncSliceControlMode, 0xe9e782ef, 0x5f18, 0x44c9, 0xa9, 0x0b, 0xe9, 0xc3, 0xc2, 0xc1,
            0x7b, 0x0b);
DEFINE_GUID(CODECAPI_AVEncSliceControlSize, 0x92f51df3, 0x07a5, 0x4172, 0xae, 0xfe, 0xc6, 0x9c, 0xa3, 0xb6,
            0x0e, 0x35);
DEFINE_GUID(CODECAPI_AVEncVideoForceKeyFrame, 0x398c1b98, 0x8353, 0x475a, 0x9e, 0xf2, 0x8f, 0x26, 0x5d, 0x26,
            0x03, 0x45);

enum eAVEncCommonRateControlMode : UINT32 {
    eAVEncCommonRateControlMode_CBR = 0,
    eAVEncCommonRateControlMode_PeakConstrainedVBR = 1,
    eAVEncCommonRateControlMode_UnconstrainedVBR = 2,
    eAVEncCommonRateControlMode_Quality = 3,
};

// CODECAPI_AVEncSliceControlMode values: the slice size counts macroblocks, bits or macroblock rows.
enum eAVEncSliceControlMode : UINT32 {
    eAVEncSliceControlMode_MB = 0,
    eAVEncSliceControlMode_Bits = 1,
    eAVEncSliceControlMode_MBRow = 2,
};

enum eAVEncH264PictureType : UINT32 {
    eAVEncH264PictureType_IDR = 0,
    eAVEncH264PictureType_P = 1,
    eAVEncH264PictureType_B = 2,
};

enum eAVEncH264VProfile : UINT32 {
    eAVEncH264VProfile_Base = 66,
    eAVEncH264VProfile_Main = 77,
    eAVEncH264VProfile_High = 100,
};

enum eAVEncH265VProfile : UINT32 {
    eAVEncH265VProfile_Main_420_8 = 1,
};
