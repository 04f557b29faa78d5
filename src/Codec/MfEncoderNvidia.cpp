#include "MfEncoderNvidia.h"

#include "Exception.h"
#include "MfCodec.h"

namespace kiv::mfcodec {

EncoderNvidiaH264::EncoderNvidiaH264(const RegistrationInfo& regInfo, const EncoderQuery& query)
    : EncoderNvidiaBase(regInfo, Options, query) {}

void EncoderNvidiaH264::create(ComPtr<Base>& object, const EncoderQuery& query) {
    object = new EncoderNvidiaH264(RegistrationOf(&EncoderNvidiaH264::create), query);
}

void EncoderNvidiaH264::onCodecConfig(NV_ENC_CODEC_CONFIG& config) {
    config.h264Config.entropyCodingMode = NV_ENC_H264_ENTROPY_CODING_MODE_CAVLC;
    config.h264Config.sliceMode = 2;     // slices of whole macroblock rows
    config.h264Config.sliceModeData = 5; // rows per slice
}

EncoderNvidiaHevc::EncoderNvidiaHevc(const RegistrationInfo& regInfo, const EncoderQuery& query)
    : EncoderNvidiaBase(regInfo, Options, query) {}

void EncoderNvidiaHevc::create(ComPtr<Base>& object, const EncoderQuery& query) {
    object = new EncoderNvidiaHevc(RegistrationOf(&EncoderNvidiaHevc::create), query);
}

} // namespace kiv::mfcodec
