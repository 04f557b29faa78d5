#include "ParameterSetExtractor.h"

extern "C" {
#include <libavcodec/bsf.h>
#include <libavcodec/packet.h>
}

namespace av {

std::unique_ptr<ParameterSetExtractor> ParameterSetExtractor::Create(const AVCodecParameters* parameters) {
    const AVBitStreamFilter* filter = av_bsf_get_by_name("extract_extradata");
    AVBSFContext* context = nullptr;
    if (filter == nullptr || av_bsf_alloc(filter, &context) < 0)
        return nullptr;
    if (avcodec_parameters_copy(context->par_in, parameters) < 0 || av_bsf_init(context) < 0) {
        av_bsf_free(&context);
        return nullptr;
    }
    return std::unique_ptr<ParameterSetExtractor>(new ParameterSetExtractor(context));
}

ParameterSetExtractor::~ParameterSetExtractor() { av_bsf_free(&m_filter); }

bool ParameterSetExtractor::Find(const AVPacket* packet, std::vector<std::uint8_t>& config) {
    AVPacket* probe = av_packet_clone(packet);
    if (probe == nullptr)
        return false;
    bool found = false;
    if (av_bsf_send_packet(m_filter, probe) >= 0) {
        while (av_bsf_receive_packet(m_filter, probe) >= 0) {
            std::size_t size = 0;
            const std::uint8_t* extradata = av_packet_get_side_data(probe, AV_PKT_DATA_NEW_EXTRADATA, &size);
            if (!found && extradata != nullptr && size > 0) {
                config.assign(extradata, extradata + size);
                found = true;
            }
            av_packet_unref(probe);
        }
    }
    av_packet_free(&probe);
    return found;
}

} // namespace av
