#pragma once
// The codec transform that decodes H.264 or HEVC samples with AMF into an NV12 Direct3D 11 texture of the
// target size. Each input is copied into one AMF host buffer and submitted, and announces its output at once;
// the output request then polls the decoder for the picture, within a bounded wait. On Linux the decoder's
// pictures live in Vulkan memory: each is converted to host memory and its top-left target-sized part copied
// into the one output texture (through a staging texture), which every output sample wraps.

#include "AmfInterfaces.h"
#include "EncoderQuery.h"
#include "MfCodecBase.h"
#include "MfEncoderAmd.h"

#include <chrono>
#include <cstdint>

namespace kiv::mfcodec {

class DecoderAmdBase : public Base {
public:
    using VendorId = AmdVendorId;

    struct DecoderOpts {
        std::uint8_t codec = 0; // 0 H.264, 1 HEVC, 2 AV1
        std::uint8_t smartAccess = 0;
        std::uint8_t studioRange = 0;
        std::uint8_t timing = 0;
        std::uint8_t propertyDump = 0;
    };

    // How long an output request waits for the decoder's picture before it fails.
    static constexpr std::chrono::milliseconds OutputWait{1000};

    // Throws kiv::mfcodec::Exception for a query that is not for decoding H.264 or HEVC on an AMD adapter,
    // or without the runtime.
    DecoderAmdBase(const RegistrationInfo& regInfo, const DecoderOpts& opts, const EncoderQuery& extOpts);

    // The decoder's surface pool for a minimum output sample count: at most 16, and 2 below 3.
    static std::int64_t PoolSize(std::uint32_t minOutputSamples);

protected:
    ~DecoderAmdBase() override;

    HRESULT onDeviceRefClearing() override;
    HRESULT onSpecsChanged(bool inputChanged, bool outputChanged) override;
    HRESULT onBeginStreaming() override;
    HRESULT onInputArrived(IMFSample* sample) override;
    HRESULT onOutputRequested(MFT_OUTPUT_DATA_BUFFER& out) override;

private:
    HRESULT openDecoder();
    HRESULT createTextures();
    // The next picture, waiting up to OutputWait for it.
    HRESULT waitForPicture(amf::AMFInterfacePtr<amf::AMFData>& amfData);
    HRESULT copyPicture(amf::AMFData* amfData);
    void dump(const amf::AMFPropertyStorage* storage, const wchar_t* title) const;
    void teardown();

    amf::AMFInterfacePtr<amf::AMFContext1> m_context;
    amf::AMFInterfacePtr<amf::AMFComponent> m_decoder;
    ComPtr<ID3D11DeviceContext> m_d3dDevCtx;
    ComPtr<ID3D11Texture2D> m_d3dTexOut;
    ComPtr<ID3D11Texture2D> m_staging; // the host copy of a picture on its way into m_d3dTexOut
    StreamSpecs m_streamSpecs;
    DecoderOpts m_opts;
    EncoderQuery m_extOpts;
    std::uint64_t m_ts[6] = {};
    std::int32_t m_streamNum = -1;
    std::int32_t m_frameNum = -1;
};

} // namespace kiv::mfcodec
