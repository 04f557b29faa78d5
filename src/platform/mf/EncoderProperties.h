#pragma once
// The ICodecAPI properties of the platform's video encoders and their values. Settings that shape the stream
// can change only between streams; a forced key frame can be asked for at any time.

#include <codecapi.h>

#include <optional>

class EncoderProperties {
public:
    explicit EncoderProperties(bool h264) : m_h264(h264) {}

    bool Supports(const GUID& api) const;
    // While streaming only the forced key frame can be set.
    bool Modifiable(const GUID& api, bool streaming) const;
    // E_NOTIMPL for a property that is not offered.
    HRESULT Get(const GUID& api, VARIANT& value) const;
    HRESULT GetDefault(const GUID& api, VARIANT& value) const;
    // E_INVALIDARG for a value of the wrong kind or outside what the encoder does; MF_E_INVALIDREQUEST for a
    // setting that cannot change while streaming.
    HRESULT Set(const GUID& api, const VARIANT& value, bool streaming);
    void SetDefaults();

    // Low latency when set, otherwise what the transform's attributes say.
    bool LowLatency(bool attributeDefault) const { return m_lowLatency.value_or(attributeDefault); }
    UINT32 GopSize() const { return m_gopSize; }
    bool Cabac() const { return m_cabac; }
    // Macroblock rows per slice; 0 for one slice per picture.
    UINT32 SliceRows() const { return m_sliceMode == eAVEncSliceControlMode_MBRow ? m_sliceSize : 0; }
    // True once for each key frame asked for.
    bool TakeKeyFrameRequest();

private:
    enum class Key { LowLatency, GopSize, RateControl, Cabac, SliceMode, SliceSize, ForceKeyFrame, Unknown };
    Key KeyOf(const GUID& api) const;

    bool m_h264;
    std::optional<bool> m_lowLatency;
    UINT32 m_gopSize = 0;
    UINT32 m_rateControl = eAVEncCommonRateControlMode_CBR;
    bool m_cabac = true;
    UINT32 m_sliceMode = eAVEncSliceControlMode_MBRow;
    UINT32 m_sliceSize = 0;
    bool m_keyFrameRequested = false;
};
