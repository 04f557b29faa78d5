#include "MfDecoderNvidia.h"

#include "MfCodec.h"

namespace kiv::mfcodec {

DecoderNvidiaH264::DecoderNvidiaH264(const RegistrationInfo& regInfo, const EncoderQuery& query)
    : DecoderNvidiaBase(regInfo, Options, query) {}

void DecoderNvidiaH264::create(ComPtr<Base>& object, const EncoderQuery& query) {
    object = new DecoderNvidiaH264(RegistrationOf(&DecoderNvidiaH264::create), query);
}

DecoderNvidiaHevc::DecoderNvidiaHevc(const RegistrationInfo& regInfo, const EncoderQuery& query)
    : DecoderNvidiaBase(regInfo, Options, query) {}

void DecoderNvidiaHevc::create(ComPtr<Base>& object, const EncoderQuery& query) {
    object = new DecoderNvidiaHevc(RegistrationOf(&DecoderNvidiaHevc::create), query);
}

} // namespace kiv::mfcodec
