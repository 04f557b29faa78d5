#include "MfEncoderAmd.h"

#include "CodecReport.h"
#include "Exception.h"
#include "MfCodec.h"

namespace kiv::mfcodec {

amd::AmfInterface AmdH264::Amf;
amd::AmfInterface AmdHevc::Amf;

const AmdEncoderSession::Names AmdH264::Names{
    L"AMFVideoEncoderVCE_AVC", L"QueryTimeout", L"ForcePictureType", L"OutputDataType",
    L"OutputBufferType",       L"FrameRate",    L"TargetBitrate",    nullptr};

const AmdEncoderSession::Names AmdHevc::Names{
    L"AMFVideoEncoderHW_HEVC", L"HevcQueryTimeout", L"HevcForcePictureType", L"HevcOutputDataType",
    L"HevcOutputBufferType",   L"HevcFrameRate",    L"HevcTargetBitrate",    L"HevcPeakBitrate"};

std::vector<AmdEncoderSession::Property> AmdH264::Properties(const StreamSpecs& specs,
                                                             const EncoderQuery& query) {
    const std::int64_t preset = query.speedQualityPreset > 0 ? 2 : query.speedQualityPreset == 0 ? 0 : 1;
    return {
        {L"Usage", amd::Int64Variant(2)},     // low latency
        {L"Profile", amd::Int64Variant(100)}, // High
        {L"ProfileLevel", amd::Int64Variant(52)},
        {L"ColorBitDepth", amd::Int64Variant(8)},
        {L"FullRangeColor", amd::BoolVariant(true)},
        {L"LowLatencyInternal", amd::BoolVariant(true)},
        {L"QualityPreset", amd::Int64Variant(preset)},
        {L"FrameRate", amd::RateVariant(specs.srcFpsNum, specs.srcFpsDen)},
        {L"TargetBitrate", amd::Int64Variant(specs.tgtBpsAvg)},
    };
}

std::vector<AmdEncoderSession::Property> AmdHevc::Properties(const StreamSpecs& specs,
                                                             const EncoderQuery& query) {
    const std::int64_t preset = query.speedQualityPreset > 0 ? 0 : query.speedQualityPreset == 0 ? 5 : 10;
    return {
        {L"HevcUsage", amd::Int64Variant(2)},          // low latency
        {L"HevcProfile", amd::Int64Variant(1)},        // Main
        {L"HevcTier", amd::Int64Variant(1)},           // High
        {L"HevcProfileLevel", amd::Int64Variant(183)}, // 6.1
        {L"HevcColorBitDepth", amd::Int64Variant(8)},
        {L"HevcNominalRange", amd::Int64Variant(1)}, // full range
        {L"LowLatencyInternal", amd::BoolVariant(true)},
        {L"HevcRateControlSkipFrameEnable", amd::BoolVariant(false)},
        {L"HevcQualityPreset", amd::Int64Variant(preset)},
        {L"HevcGOPSize", amd::Int64Variant(query.longGop != 0 ? 3600 : 120)},
        {L"HevcFrameRate", amd::RateVariant(specs.srcFpsNum, specs.srcFpsDen)},
        {L"HevcPeakBitrate", amd::Int64Variant(AmdEncoderSession::PeakBitrate(specs.tgtBpsAvg))},
        {L"HevcTargetBitrate", amd::Int64Variant(specs.tgtBpsAvg)},
    };
}

template <class Codec>
EncoderAmd<Codec>::EncoderAmd(const RegistrationInfo& regInfo, const EncoderQuery& query)
    : Base(regInfo), m_session(Codec::Names), m_extOpts(query) {
    KIV_THROW_UNLESS(m_extOpts.decoder == 0);
    // An automatic choice asks by the output type alone.
    KIV_THROW_UNLESS(m_extOpts.videoCodec == Codec::Codec ||
                     m_extOpts.videoCodec == VideoCodecChoice::Automatic);
    KIV_THROW_UNLESS(m_extOpts.deviceVendor == +VendorId::Amd);
    KIV_THROW_UNLESS(Codec::Amf.load_() == amd::Error::None);
    // A GPU without this encoder is refused here, so that the search offers the next encoder instead.
    // Without a device the session's opening tells.
    KIV_THROW_UNLESS(m_extOpts.device == nullptr ||
                     AmdEncoderSession::ComponentAvailable(Codec::Amf.factory(), Codec::Names.component));
}

template <class Codec>
void EncoderAmd<Codec>::create(ComPtr<Base>& object, const EncoderQuery& query) {
    object = new EncoderAmd(RegistrationOf(&EncoderAmd::create), query);
}

template <class Codec>
HRESULT EncoderAmd<Codec>::onBeginStreaming() {
    KIV_ASSERT(Codec::Amf.isLoaded_());
    KIV_ASSERT(canInitialize());
    KIV_RETURN_IF_FAILED(getVideoSpecs(&m_streamSpecs, nullptr));
    m_forceKeyFrame.exchange(false);
    KIV_RETURN_IF_FAILED(m_session.open(Codec::Amf.factory(), device(), m_streamSpecs,
                                        Codec::Properties(m_streamSpecs, m_extOpts), m_regInfo.friendlyName,
                                        [this] { signalHaveOutput(); }));
    return S_OK;
}

template <class Codec>
HRESULT EncoderAmd<Codec>::onSpecsChanged(bool, bool) {
    KIV_ASSERT(Codec::Amf.isLoaded_());
    if (!m_session.isOpen())
        return S_OK;
    const StreamSpecs prevSpecs = m_streamSpecs;
    KIV_RETURN_IF_FAILED(getVideoSpecs(&m_streamSpecs, &prevSpecs));
    KIV_RETURN_IF_FAILED(m_session.reconfigure(m_streamSpecs));
    return S_OK;
}

template <class Codec>
HRESULT EncoderAmd<Codec>::onInputArrived(IMFSample* sample) {
    KIV_ASSERT(Codec::Amf.isLoaded_());
    KIV_ASSERT(m_session.isOpen());
    KIV_RETURN_IF_FAILED(m_session.submit(sample, m_forceKeyFrame.exchange(false)));
    return S_OK;
}

template <class Codec>
HRESULT EncoderAmd<Codec>::onOutputRequested(MFT_OUTPUT_DATA_BUFFER& dataBuffer) {
    KIV_ASSERT(Codec::Amf.isLoaded_());
    KIV_ASSERT(m_session.isOpen());
    KIV_RETURN_IF_FAILED(m_session.takeOutput(dataBuffer));
    KIV_RETURN_IF_FAILED(signalNeedInput());
    return S_OK;
}

template <class Codec>
HRESULT EncoderAmd<Codec>::onForceKeyFrame() {
    m_forceKeyFrame.exchange(true);
    return S_OK;
}

template <class Codec>
HRESULT EncoderAmd<Codec>::onDeviceRefClearing() {
    m_session.close();
    return S_OK;
}

template class EncoderAmd<AmdH264>;
template class EncoderAmd<AmdHevc>;

} // namespace kiv::mfcodec
