#include "MediaTypeFormat.h"

#include <mfapi.h>
#include <mferror.h>

#include <array>
#include <cstring>

namespace {

// The HEAACWAVEINFO fields after WAVEFORMATEX that precede the AudioSpecificConfig in MF_MT_USER_DATA.
constexpr std::size_t HeAacInfoSize = 12;
constexpr std::size_t FlacStreamInfoSize = 34;
constexpr UINT32 AacRawPayload = 0;

std::vector<std::uint8_t> GetBlob(IMFMediaType* type, REFGUID key) {
    UINT8* data = nullptr;
    UINT32 size = 0;
    if (FAILED(type->GetAllocatedBlob(key, &data, &size)))
        return {};
    std::vector<std::uint8_t> blob(data, data + size);
    CoTaskMemFree(data);
    return blob;
}

bool IsAnnexB(const std::vector<std::uint8_t>& data) {
    static constexpr std::uint8_t ShortStartCode[] = {0, 0, 1};
    static constexpr std::uint8_t LongStartCode[] = {0, 0, 0, 1};
    return (data.size() > 3 && std::memcmp(data.data(), ShortStartCode, 3) == 0) ||
           (data.size() > 4 && std::memcmp(data.data(), LongStartCode, 4) == 0);
}

// AAC-LC AudioSpecificConfig for a rate and channel count, for types that carry no user data.
std::vector<std::uint8_t> AacLowComplexityConfig(UINT32 sampleRate, UINT32 channels) {
    static constexpr std::array<UINT32, 13> Rates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                     22050, 16000, 12000, 11025, 8000,  7350};
    std::size_t rateIndex = 0;
    while (rateIndex < Rates.size() && Rates[rateIndex] != sampleRate)
        ++rateIndex;
    if (rateIndex == Rates.size() || channels == 0 || channels > 7)
        return {};
    constexpr unsigned LowComplexity = 2;
    return {static_cast<std::uint8_t>((LowComplexity << 3) | (rateIndex >> 1)),
            static_cast<std::uint8_t>(((rateIndex & 1) << 7) | (channels << 3))};
}

// The STREAMINFO block, given either bare or as the start of a native FLAC stream ("fLaC", block header).
std::vector<std::uint8_t> FlacStreamInfo(const std::vector<std::uint8_t>& userData) {
    if (userData.size() == FlacStreamInfoSize)
        return userData;
    constexpr std::size_t NativeHeader = 8;
    if (userData.size() >= NativeHeader + FlacStreamInfoSize &&
        std::memcmp(userData.data(), "fLaC", 4) == 0 && (userData[4] & 0x7F) == 0)
        return {userData.begin() + NativeHeader, userData.begin() + NativeHeader + FlacStreamInfoSize};
    return {};
}

HRESULT VideoFormat(IMFMediaType* type, REFGUID subtype, av::StreamFormat& format) {
    if (subtype == MFVideoFormat_H264)
        format.codec = av::Codec::H264;
    else if (subtype == MFVideoFormat_HEVC || subtype == MFVideoFormat_H265)
        format.codec = av::Codec::Hevc;
    else
        return MF_E_INVALIDMEDIATYPE;
    if (FAILED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &format.width, &format.height)) ||
        format.width == 0 || format.height == 0)
        return MF_E_INVALIDMEDIATYPE;
    UINT32 numerator = 0;
    UINT32 denominator = 0;
    if (SUCCEEDED(MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &numerator, &denominator))) {
        format.frameRateNumerator = numerator;
        format.frameRateDenominator = denominator;
    }
    format.bitRate = MFGetAttributeUINT32(type, MF_MT_AVG_BITRATE, 0);
    format.codecConfig = GetBlob(type, MF_MT_MPEG_SEQUENCE_HEADER);
    // Samples are Annex B, so a sequence header in another form would not match them.
    if (!format.codecConfig.empty() && !IsAnnexB(format.codecConfig))
        return MF_E_INVALIDMEDIATYPE;
    return S_OK;
}

HRESULT AudioFormat(IMFMediaType* type, REFGUID subtype, av::StreamFormat& format) {
    format.sampleRate = MFGetAttributeUINT32(type, MF_MT_AUDIO_SAMPLES_PER_SECOND, 0);
    format.channels = MFGetAttributeUINT32(type, MF_MT_AUDIO_NUM_CHANNELS, 0);
    format.bitsPerSample = MFGetAttributeUINT32(type, MF_MT_AUDIO_BITS_PER_SAMPLE, 0);
    format.bitRate = MFGetAttributeUINT32(type, MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 0) * 8;
    if (format.sampleRate == 0 || format.channels == 0)
        return MF_E_INVALIDMEDIATYPE;
    const std::vector<std::uint8_t> userData = GetBlob(type, MF_MT_USER_DATA);
    if (subtype == MFAudioFormat_AAC) {
        format.codec = av::Codec::Aac;
        if (MFGetAttributeUINT32(type, MF_MT_AAC_PAYLOAD_TYPE, AacRawPayload) != AacRawPayload)
            return MF_E_INVALIDMEDIATYPE;
        format.codecConfig = userData.size() > HeAacInfoSize
                                 ? std::vector<std::uint8_t>(userData.begin() + HeAacInfoSize, userData.end())
                                 : AacLowComplexityConfig(format.sampleRate, format.channels);
    } else if (subtype == MFAudioFormat_FLAC) {
        format.codec = av::Codec::Flac;
        format.codecConfig = FlacStreamInfo(userData);
    } else {
        return MF_E_INVALIDMEDIATYPE;
    }
    return format.codecConfig.empty() ? MF_E_INVALIDMEDIATYPE : S_OK;
}

} // namespace

HRESULT MediaTypeToStreamFormat(IMFMediaType* type, av::StreamFormat& format) {
    if (type == nullptr)
        return E_POINTER;
    format = {};
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    if (FAILED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) || FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)))
        return MF_E_INVALIDMEDIATYPE;
    if (major == MFMediaType_Video)
        return VideoFormat(type, subtype, format);
    if (major == MFMediaType_Audio)
        return AudioFormat(type, subtype, format);
    return MF_E_INVALIDMEDIATYPE;
}
