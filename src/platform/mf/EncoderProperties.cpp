#include "EncoderProperties.h"

#include <mferror.h>
#include <pyx/PlatformTrace.h>

namespace {

VARIANT Bool(bool value) {
    VARIANT variant{};
    variant.vt = VT_BOOL;
    variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return variant;
}

VARIANT Unsigned(UINT32 value) {
    VARIANT variant{};
    variant.vt = VT_UI4;
    variant.ulVal = value;
    return variant;
}

} // namespace

EncoderProperties::Key EncoderProperties::KeyOf(const GUID& api) const {
    if (api == CODECAPI_AVLowLatencyMode)
        return Key::LowLatency;
    if (api == CODECAPI_AVEncMPVGOPSize)
        return Key::GopSize;
    if (api == CODECAPI_AVEncCommonRateControlMode)
        return Key::RateControl;
    if (api == CODECAPI_AVEncH264CABACEnable && m_h264)
        return Key::Cabac;
    if (api == CODECAPI_AVEncSliceControlMode)
        return Key::SliceMode;
    if (api == CODECAPI_AVEncSliceControlSize)
        return Key::SliceSize;
    if (api == CODECAPI_AVEncVideoForceKeyFrame)
        return Key::ForceKeyFrame;
    return Key::Unknown;
}

bool EncoderProperties::Supports(const GUID& api) const { return KeyOf(api) != Key::Unknown; }

bool EncoderProperties::Modifiable(const GUID& api, bool streaming) const {
    const Key key = KeyOf(api);
    return key != Key::Unknown && (!streaming || key == Key::ForceKeyFrame);
}

HRESULT EncoderProperties::Get(const GUID& api, VARIANT& value) const {
    switch (KeyOf(api)) {
    case Key::LowLatency:
        value = Bool(m_lowLatency.value_or(false));
        return S_OK;
    case Key::GopSize:
        value = Unsigned(m_gopSize);
        return S_OK;
    case Key::RateControl:
        value = Unsigned(m_rateControl);
        return S_OK;
    case Key::Cabac:
        value = Bool(m_cabac);
        return S_OK;
    case Key::SliceMode:
        value = Unsigned(m_sliceMode);
        return S_OK;
    case Key::SliceSize:
        value = Unsigned(m_sliceSize);
        return S_OK;
    case Key::ForceKeyFrame:
        value = Unsigned(m_keyFrameRequested ? 1 : 0);
        return S_OK;
    case Key::Unknown:
        break;
    }
    return NotImplemented();
}

HRESULT EncoderProperties::GetDefault(const GUID& api, VARIANT& value) const {
    EncoderProperties defaults(m_h264);
    return defaults.Get(api, value);
}

HRESULT EncoderProperties::Set(const GUID& api, const VARIANT& value, bool streaming) {
    const Key key = KeyOf(api);
    if (key == Key::Unknown)
        return NotImplemented();
    const bool boolean = key == Key::LowLatency || key == Key::Cabac;
    if (value.vt != (boolean ? VT_BOOL : VT_UI4))
        return E_INVALIDARG;
    if (!Modifiable(api, streaming))
        return MF_E_INVALIDREQUEST;
    switch (key) {
    case Key::LowLatency:
        m_lowLatency = value.boolVal != VARIANT_FALSE;
        return S_OK;
    case Key::GopSize:
        m_gopSize = value.ulVal;
        return S_OK;
    case Key::RateControl:
        // Constant bit rate only: with no bit rate in the type, constant quality stands in for it.
        if (value.ulVal != eAVEncCommonRateControlMode_CBR)
            return E_INVALIDARG;
        m_rateControl = value.ulVal;
        return S_OK;
    case Key::Cabac:
        m_cabac = value.boolVal != VARIANT_FALSE;
        return S_OK;
    case Key::SliceMode:
        if (value.ulVal != eAVEncSliceControlMode_MBRow)
            return E_INVALIDARG;
        m_sliceMode = value.ulVal;
        return S_OK;
    case Key::SliceSize:
        m_sliceSize = value.ulVal;
        return S_OK;
    case Key::ForceKeyFrame:
        m_keyFrameRequested = m_keyFrameRequested || value.ulVal != 0;
        return S_OK;
    case Key::Unknown:
        break;
    }
    return NotImplemented();
}

void EncoderProperties::SetDefaults() { *this = EncoderProperties(m_h264); }

bool EncoderProperties::TakeKeyFrameRequest() {
    const bool requested = m_keyFrameRequested;
    m_keyFrameRequested = false;
    return requested;
}
