#include "MfDecoderAmd.h"

#include "MfCodec.h"

namespace kiv::mfcodec {

DecoderAmdH264::DecoderAmdH264(const RegistrationInfo& regInfo, const EncoderQuery& query)
    : DecoderAmdBase(regInfo, Options, query) {}

void DecoderAmdH264::create(ComPtr<Base>& object, const EncoderQuery& query) {
    object = new DecoderAmdH264(RegistrationOf(&DecoderAmdH264::create), query);
}

DecoderAmdHevc::DecoderAmdHevc(const RegistrationInfo& regInfo, const EncoderQuery& query)
    : DecoderAmdBase(regInfo, Options, query) {}

void DecoderAmdHevc::create(ComPtr<Base>& object, const EncoderQuery& query) {
    object = new DecoderAmdHevc(RegistrationOf(&DecoderAmdHevc::create), query);
}

} // namespace kiv::mfcodec
