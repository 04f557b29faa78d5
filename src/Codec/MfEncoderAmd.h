#pragma once
// The two AMF encoder transforms of the registration table, H.264 and HEVC: one design over two codecs, each
// class a direct transform of its own that drives an AmdEncoderSession with its codec's names and property
// table. Each codec keeps its own binding of the runtime.

#include "AmdEncoderSession.h"
#include "EncoderQuery.h"
#include "MfCodecBase.h"

#include <atomic>

namespace kiv::mfcodec {

struct AmdVendorId {
    static constexpr UINT32 Amd = 0x1002;
};

// H.264 High at level 5.2, low-latency usage.
struct AmdH264 {
    static constexpr VideoCodecChoice Codec = VideoCodecChoice::H264;
    static const AmdEncoderSession::Names Names;
    static std::vector<AmdEncoderSession::Property> Properties(const StreamSpecs& specs,
                                                               const EncoderQuery& query);
    static amd::AmfInterface Amf;
};

// HEVC Main, high tier at level 6.1, low-latency usage, a key frame every 120 pictures (3600 with a long
// GOP) and a peak bit rate half again the average.
struct AmdHevc {
    static constexpr VideoCodecChoice Codec = VideoCodecChoice::Hevc;
    static const AmdEncoderSession::Names Names;
    static std::vector<AmdEncoderSession::Property> Properties(const StreamSpecs& specs,
                                                               const EncoderQuery& query);
    static amd::AmfInterface Amf;
};

template <class Codec>
class EncoderAmd final : public Base {
public:
    using VendorId = AmdVendorId;

    // Throws kiv::mfcodec::Exception for a query that is not for encoding the codec on an AMD adapter, or
    // without the runtime.
    EncoderAmd(const RegistrationInfo& regInfo, const EncoderQuery& query);
    // The creation function of its registration entry.
    static void create(ComPtr<Base>& object, const EncoderQuery& query);

protected:
    ~EncoderAmd() override = default;
    HRESULT onDeviceRefClearing() override;
    HRESULT onSpecsChanged(bool inputChanged, bool outputChanged) override;
    HRESULT onBeginStreaming() override;
    HRESULT onInputArrived(IMFSample* sample) override;
    HRESULT onOutputRequested(MFT_OUTPUT_DATA_BUFFER& out) override;
    HRESULT onForceKeyFrame() override;

private:
    AmdEncoderSession m_session;
    std::atomic<bool> m_forceKeyFrame{false};
    StreamSpecs m_streamSpecs;
    EncoderQuery m_extOpts;
};

using EncoderAmdH264 = EncoderAmd<AmdH264>;
using EncoderAmdHevc = EncoderAmd<AmdHevc>;

} // namespace kiv::mfcodec
