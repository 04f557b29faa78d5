#pragma once
// The codec transforms that decode H.264 or HEVC elementary streams on an Intel GPU through oneVPL into an
// NV12 Direct3D 11 texture. Decoding is synchronous per input: each input gives at most one picture, and the
// next input is asked for once the current one is handled. On Linux the runtime decodes into system-memory
// surfaces of its own; the visible part of each picture is copied through a staging texture into the one
// output texture, whose have-output is queued before the next need-input, so each picture is taken before
// the next one overwrites it.

#include "EncoderQuery.h"
#include "MfCodecBase.h"
#include "MfEncoderIntelBase.h"
#include "MfHelperIntel.h"

#include <cstdint>

namespace kiv::mfcodec {

class DecoderIntelBase : public Base {
public:
    using Codec = EncoderIntelBase::Codec;
    using CtorOpts = EncoderIntelBase::CtorOpts;
    using VendorId = EncoderIntelBase::VendorId;

    // What a misaligned input is copied into; a larger misaligned input is refused.
    static constexpr std::size_t StagingBytes = 0x400000;

    // Throws kiv::mfcodec::Exception when the query is not for an Intel adapter or the runtime cannot be
    // loaded.
    DecoderIntelBase(const RegistrationInfo& regInfo, const CtorOpts& ctorOpts, const EncoderQuery& extOpts);

protected:
    ~DecoderIntelBase() override;

    HRESULT onDeviceRefClearing() override;
    HRESULT onDeviceRefSet() override;
    HRESULT onSpecsChanged(bool inputChanged, bool outputChanged) override;
    HRESULT onBeginStreaming() override;
    HRESULT onInputArrived(IMFSample* sample) override;
    HRESULT onOutputRequested(MFT_OUTPUT_DATA_BUFFER& out) override;

private:
    HRESULT decodeSample(IMFSample* sample);
    HRESULT processData(const BYTE* buff, DWORD bytes, LONGLONG sampleTime);
    HRESULT initDecoderIfNeeded(mfxBitstream* inoutBitstream);
    HRESULT createOutputTextures(const mfxFrameInfo& info);
    // Copies the visible part of a decoded picture into the output texture.
    HRESULT copyPicture(mfxFrameSurface1* surface);
    void teardown();

    mfxU32 m_codecFourCC = 0;
    mfxSession m_session = nullptr;
    mfxU8* m_staging = nullptr;
    bool m_decoderInitialized = false;
    ComPtr<ID3D11DeviceContext> m_d3dDevCtx;
    ComPtr<ID3D11Texture2D> m_d3dTexOut;
    ComPtr<ID3D11Texture2D> m_stagingTexture; // each picture is written here, then copied into m_d3dTexOut
    LONGLONG m_lastTimestamp = 0;
    LONGLONG m_lastDuration = 0;
    UINT32 m_lastStreamNum = 0xFFFFFFFF;
    UINT32 m_lastFrameNum = 0xFFFFFFFF;
    StreamSpecs m_streamSpecs;
    CtorOpts m_ctorOpts;
    EncoderQuery m_extOpts;
    std::uint32_t m_frameCount = 0;
    std::uint64_t m_tsInput = 0;
    std::uint64_t m_tsDecoded = 0;
    std::uint64_t m_tsCopied = 0;
    std::uint64_t m_tsOutput = 0;
    std::uint64_t m_tsDone = 0;
};

class DecoderIntelH264 final : public DecoderIntelBase {
public:
    static constexpr CtorOpts Options{Codec::H264, 0};

    DecoderIntelH264(const RegistrationInfo& regInfo, const EncoderQuery& query);
    // The creation function of its registration entry.
    static void create(ComPtr<Base>& object, const EncoderQuery& query);
};

class DecoderIntelHevc final : public DecoderIntelBase {
public:
    static constexpr CtorOpts Options{Codec::HEVC, 0};

    DecoderIntelHevc(const RegistrationInfo& regInfo, const EncoderQuery& query);
    static void create(ComPtr<Base>& object, const EncoderQuery& query);
};

} // namespace kiv::mfcodec
