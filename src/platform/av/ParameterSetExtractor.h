#pragma once
// Finds the parameter sets of an H.264 or HEVC stream in its packets (libavcodec's extract_extradata filter).

#include <cstdint>
#include <memory>
#include <vector>

struct AVBSFContext;
struct AVCodecParameters;
struct AVPacket;

namespace av {

class ParameterSetExtractor {
public:
    // Null when the filter is not available for the stream.
    static std::unique_ptr<ParameterSetExtractor> Create(const AVCodecParameters* parameters);
    ~ParameterSetExtractor();
    ParameterSetExtractor(const ParameterSetExtractor&) = delete;
    ParameterSetExtractor& operator=(const ParameterSetExtractor&) = delete;

    // True when the packet carries parameter sets; they are then in config, in Annex B form.
    bool Find(const AVPacket* packet, std::vector<std::uint8_t>& config);

private:
    explicit ParameterSetExtractor(AVBSFContext* filter) : m_filter(filter) {}
    AVBSFContext* m_filter;
};

} // namespace av
