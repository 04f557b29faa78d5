#pragma once
// The two NVENC encoder transforms of the registration table.

#include "MfEncoderNvidiaBase.h"

namespace kiv::mfcodec {

// H.264 with CAVLC and slices of five macroblock rows, no periodic key frames.
class EncoderNvidiaH264 final : public EncoderNvidiaBase {
public:
    static constexpr CtorOpts Options{Codec::H264, -1, 1, 0, 0xFFFFFFFF, 0, 0};

    EncoderNvidiaH264(const RegistrationInfo& regInfo, const EncoderQuery& query);
    // The creation function of its registration entry.
    static void create(ComPtr<Base>& object, const EncoderQuery& query);

protected:
    void onCodecConfig(NV_ENC_CODEC_CONFIG& config) override;
};

// HEVC with a key frame every 300 pictures.
class EncoderNvidiaHevc final : public EncoderNvidiaBase {
public:
    static constexpr CtorOpts Options{Codec::HEVC, 0, 0, 0, 300, 0, 0};

    EncoderNvidiaHevc(const RegistrationInfo& regInfo, const EncoderQuery& query);
    // The creation function of its registration entry.
    static void create(ComPtr<Base>& object, const EncoderQuery& query);
};

} // namespace kiv::mfcodec
