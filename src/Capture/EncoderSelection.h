#pragma once
// Finding and choosing encoder transforms: the encoder search lists the encoders that produce the wanted
// format (hardware first, then software), the video choice takes the first one that accepts ARGB32 or NV12,
// the audio choice the first that accepts the captured PCM. Every step is logged.

#include "Codec/EncoderQuery.h"
#include "Codec/MfCodec.h"
#include <mfapi.h>
#include <mftransform.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <vector>

// MFTEnumEx or a stand-in with its contract.
using TransformEnumerator =
    std::function<HRESULT(GUID category, UINT32 flags, const MFT_REGISTER_TYPE_INFO* input,
                          const MFT_REGISTER_TYPE_INFO* output, IMFActivate*** activates, UINT32* count)>;
// A source of the system's own codec transforms: hands each one matching the query to the callback until
// it returns false.
using CustomCodecEnumerator =
    std::function<void(const EncoderQuery& query, const std::function<bool(EncoderInfo&&)>& callback)>;

// The codec settings of a video capture that the choice reads.
struct VideoCodecOptions {
    VideoCodecChoice codec = VideoCodecChoice::H264;
    std::uint8_t includeCustomCodecs = 0;
    ID3D11Device* device = nullptr;
    UINT32 deviceVendor = 0;
    UINT64 driverVersion = 0; // as the codec library compares it
    std::int8_t codecPreset = 0;
    std::uint8_t codecLongGop = 0;
    std::uint16_t codecOptionValue = 0;
};

class EncoderSelection {
public:
    explicit EncoderSelection(TransformEnumerator enumerate = MFTEnumEx,
                              CustomCodecEnumerator customCodecs = kiv::mfcodec::EnumerateCustomCodecs);

    // The transforms of the query in preference order.
    std::vector<EncoderInfo> Search(const EncoderQuery& query) const;
    // The video encoders for the options; an automatic codec becomes H.264 when no hardware HEVC encoder
    // exists. H.264 with the codec library's encoders included becomes HEVC when the library offers no H.264
    // encoder for the GPU but an HEVC one (NVIDIA's), so that its encoders really come first.
    std::vector<EncoderInfo> SearchVideo(const VideoCodecOptions& options, VideoCodecChoice& codec) const;
    // The first listed encoder that takes ARGB32 or NV12 (ARGB32 preferred per encoder). `input` receives the
    // chosen input subtype and `codecKind` what the encoder makes. Throws std::runtime_error
    // "No suitable video encoder found".
    EncoderInfo ChooseVideo(const VideoCodecOptions& options, GUID& input, VideoCodecKind& codecKind) const;
    // The first encoder that takes the PCM type, with its input and output types set; `chosen` (may be null)
    // receives its description. Throws std::runtime_error "No audio encoders found", or ComException when a
    // type cannot be built or set.
    ComPtr<IMFTransform> ChooseAudio(IMFMediaType* input, AudioCodecKind audioCodec,
                                     EncoderInfo* chosen = nullptr) const;

private:
    // The two parts of Search: the codec library's transforms (when the query includes them), then the
    // platform's.
    std::vector<EncoderInfo> SearchCustom(const EncoderQuery& query) const;
    void SearchPlatform(const EncoderQuery& query, std::vector<EncoderInfo>& found) const;
    void Pass(const EncoderQuery& query, UINT32 flags, bool hardware, std::vector<EncoderInfo>& found) const;
    // Activates the transform and reads its description; false when it cannot be activated.
    bool Describe(IMFActivate* activate, const EncoderQuery& query, bool hardware, EncoderInfo& info) const;
    static bool Keep(const EncoderQuery& query, const EncoderInfo& info);

    TransformEnumerator m_enumerate;
    CustomCodecEnumerator m_customCodecs;
};
