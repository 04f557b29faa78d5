#pragma once
// The two NVDEC decoder transforms of the registration table.

#include "MfDecoderNvidiaBase.h"

namespace kiv::mfcodec {

class DecoderNvidiaH264 final : public DecoderNvidiaBase {
public:
    static constexpr CtorOpts Options{Codec::H264, 0, 0, 0, 0};

    DecoderNvidiaH264(const RegistrationInfo& regInfo, const EncoderQuery& query);
    // The creation function of its registration entry.
    static void create(ComPtr<Base>& object, const EncoderQuery& query);
};

class DecoderNvidiaHevc final : public DecoderNvidiaBase {
public:
    static constexpr CtorOpts Options{Codec::HEVC, 1, 0, 0, 0};

    DecoderNvidiaHevc(const RegistrationInfo& regInfo, const EncoderQuery& query);
    static void create(ComPtr<Base>& object, const EncoderQuery& query);
};

} // namespace kiv::mfcodec
