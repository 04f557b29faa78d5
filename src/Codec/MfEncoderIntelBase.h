#pragma once
// The codec transforms that encode Direct3D 11 frames to H.264 or HEVC on an Intel GPU through oneVPL. On
// Linux the runtime cannot import our textures, so each frame is copied through a staging texture into a
// system-memory surface the runtime hands out. One frame is in flight: every input is encoded and
// synchronised before the transform asks for the next one, and the one bitstream buffer holds its packet
// until the output is taken (its have-output is queued before the next need-input).

#include "EncoderQuery.h"
#include "MfCodecBase.h"
#include "MfHelperIntel.h"
#include "TextureReadback.h"
#include "TransformCodec.h"

#include <atomic>
#include <cstdint>

namespace kiv::mfcodec {

class EncoderIntelBase : public Base {
public:
    using Codec = TransformCodec;

    struct CtorOpts {
        Codec codec = Codec::INVALID;
        std::uint8_t timingLog = 0;
    };
    static_assert(sizeof(CtorOpts) == 2);

    struct VendorId {
        static constexpr UINT32 Intel = 0x8086;
    };

    static constexpr std::size_t BitstreamBytes = 0x400000;

    // "AVC ", "HEVC" or "AV1 "; 0 for anything else.
    static mfxU32 CodecFourCC(Codec codec);

    // Throws kiv::mfcodec::Exception when the query is not for an Intel adapter or the runtime cannot be
    // loaded.
    EncoderIntelBase(const RegistrationInfo& regInfo, const CtorOpts& ctorOpts, const EncoderQuery& extOpts);

protected:
    ~EncoderIntelBase() override;

    HRESULT onDeviceRefClearing() override;
    HRESULT onDeviceRefSet() override;
    HRESULT onSpecsChanged(bool inputChanged, bool outputChanged) override;
    HRESULT onBeginStreaming() override;
    HRESULT onInputArrived(IMFSample* sample) override;
    HRESULT onOutputRequested(MFT_OUTPUT_DATA_BUFFER& out) override;
    HRESULT onForceKeyFrame() override;

private:
    mfxVideoParam initialParams() const;
    HRESULT initSession(mfxVideoParam& initParams);
    HRESULT encode(IMFSample* sample, bool forceKeyFrame);
    // Copies the visible part of the texture into the runtime's surface.
    HRESULT fillSurface(ID3D11Texture2D* texture, UINT subresource, mfxFrameSurface1* surface);
    HRESULT submit(bool forceKeyFrame, mfxFrameSurface1* surface);
    void teardown();

    mfxU32 m_codecFourCC = 0;
    mfxSession m_session = nullptr;
    bool m_encoderInitialized = false;
    mfxBitstream m_output{};
    mfxU8* m_bitstreamBuffer = nullptr;
    std::atomic<bool> m_forceKeyFrame{false}; // set by SetValue on the caller's thread
    TextureReadback m_readback;
    LONGLONG m_lastTimestamp = 0;
    LONGLONG m_lastDuration = 0;
    UINT32 m_lastStreamNum = 0xFFFFFFFF;
    UINT32 m_lastFrameNum = 0xFFFFFFFF;
    StreamSpecs m_streamSpecs;
    CtorOpts m_ctorOpts;
    EncoderQuery m_extOpts;
    std::uint64_t m_tsInput = 0;
    std::uint64_t m_tsSubmit = 0;
    std::uint64_t m_tsSubmitted = 0;
    std::uint64_t m_tsOutput = 0;
    std::uint64_t m_tsDone = 0;
    std::uint32_t m_frameCount = 0;
};

class EncoderIntelH264 final : public EncoderIntelBase {
public:
    static constexpr CtorOpts Options{Codec::H264, 0};

    EncoderIntelH264(const RegistrationInfo& regInfo, const EncoderQuery& query);
    // The creation function of its registration entry.
    static void create(ComPtr<Base>& object, const EncoderQuery& query);
};

class EncoderIntelHevc final : public EncoderIntelBase {
public:
    static constexpr CtorOpts Options{Codec::HEVC, 0};

    EncoderIntelHevc(const RegistrationInfo& regInfo, const EncoderQuery& query);
    static void create(ComPtr<Base>& object, const EncoderQuery& query);
};

} // namespace kiv::mfcodec
