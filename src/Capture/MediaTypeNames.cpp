#include "MediaTypeNames.h"

#include <mfapi.h>

namespace {

struct NamedGuid {
    const GUID* guid;
    const wchar_t* name;
};

#define PYX_NAMED(symbol)                                                                                    \
    { &symbol, L## #symbol }

constexpr NamedGuid Names[] = {
    PYX_NAMED(MFMediaType_Audio),
    PYX_NAMED(MFMediaType_Video),
    PYX_NAMED(MFVideoFormat_ARGB32),
    PYX_NAMED(MFVideoFormat_NV12),
    PYX_NAMED(MFVideoFormat_H264),
    PYX_NAMED(MFVideoFormat_H264_ES),
    PYX_NAMED(MFVideoFormat_H265),
    PYX_NAMED(MFVideoFormat_HEVC),
    PYX_NAMED(MFVideoFormat_HEVC_ES),
    PYX_NAMED(MFAudioFormat_PCM),
    PYX_NAMED(MFAudioFormat_Float),
    PYX_NAMED(MFAudioFormat_AAC),
    PYX_NAMED(MFAudioFormat_FLAC),
    PYX_NAMED(MF_MT_MAJOR_TYPE),
    PYX_NAMED(MF_MT_SUBTYPE),
    PYX_NAMED(MF_MT_ALL_SAMPLES_INDEPENDENT),
    PYX_NAMED(MF_MT_FIXED_SIZE_SAMPLES),
    PYX_NAMED(MF_MT_COMPRESSED),
    PYX_NAMED(MF_MT_USER_DATA),
    PYX_NAMED(MF_MT_FRAME_SIZE),
    PYX_NAMED(MF_MT_FRAME_RATE),
    PYX_NAMED(MF_MT_PIXEL_ASPECT_RATIO),
    PYX_NAMED(MF_MT_INTERLACE_MODE),
    PYX_NAMED(MF_MT_AVG_BITRATE),
    PYX_NAMED(MF_MT_VIDEO_ROTATION),
    PYX_NAMED(MF_MT_MPEG2_PROFILE),
    PYX_NAMED(MF_MT_MPEG_SEQUENCE_HEADER),
    PYX_NAMED(MF_MT_DEFAULT_STRIDE),
    PYX_NAMED(MF_MT_YUV_MATRIX),
    PYX_NAMED(MF_MT_VIDEO_NOMINAL_RANGE),
    PYX_NAMED(MF_MT_AUDIO_NUM_CHANNELS),
    PYX_NAMED(MF_MT_AUDIO_SAMPLES_PER_SECOND),
    PYX_NAMED(MF_MT_AUDIO_AVG_BYTES_PER_SECOND),
    PYX_NAMED(MF_MT_AUDIO_BLOCK_ALIGNMENT),
    PYX_NAMED(MF_MT_AUDIO_BITS_PER_SAMPLE),
    PYX_NAMED(MF_MT_AAC_PAYLOAD_TYPE),
    PYX_NAMED(MF_MT_AAC_AUDIO_PROFILE_LEVEL_INDICATION),
};

#undef PYX_NAMED

} // namespace

const wchar_t* MediaTypeName(REFGUID guid) {
    if (guid == GUID_NULL)
        return L"NullGUID";
    for (const NamedGuid& named : Names)
        if (*named.guid == guid)
            return named.name;
    return L"(Unknown)";
}

std::wstring MediaTypeNameList(const std::vector<GUID>& guids) {
    std::wstring list = L"[";
    for (std::size_t i = 0; i < guids.size(); ++i) {
        if (i > 0)
            list += L", ";
        list += MediaTypeName(guids[i]);
    }
    return list + L"]";
}
