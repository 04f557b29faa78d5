#pragma once
// The two AMF decoder transforms of the registration table.

#include "MfDecoderAmdBase.h"

namespace kiv::mfcodec {

class DecoderAmdH264 final : public DecoderAmdBase {
public:
    static constexpr DecoderOpts Options{0, 0, 0, 0, 0};

    DecoderAmdH264(const RegistrationInfo& regInfo, const EncoderQuery& query);
    // The creation function of its registration entry.
    static void create(ComPtr<Base>& object, const EncoderQuery& query);
};

class DecoderAmdHevc final : public DecoderAmdBase {
public:
    static constexpr DecoderOpts Options{1, 0, 0, 0, 0};

    DecoderAmdHevc(const RegistrationInfo& regInfo, const EncoderQuery& query);
    static void create(ComPtr<Base>& object, const EncoderQuery& query);
};

} // namespace kiv::mfcodec
