#include "TestMediaTypes.h"

#include <stdexcept>

namespace {

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr))
        throw std::runtime_error(std::string(what) + " failed");
}

ComPtr<IMFMediaType> NewType(REFGUID major, REFGUID subtype) {
    ComPtr<IMFMediaType> type;
    Check(MFCreateMediaType(&type), "MFCreateMediaType");
    Check(type->SetGUID(MF_MT_MAJOR_TYPE, major), "SetGUID");
    Check(type->SetGUID(MF_MT_SUBTYPE, subtype), "SetGUID");
    return type;
}

void SetAudioBasics(IMFMediaType* type, int sampleRate, int channels) {
    Check(type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, UINT32(sampleRate)), "SetUINT32");
    Check(type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, UINT32(channels)), "SetUINT32");
    Check(type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16), "SetUINT32");
}

} // namespace

ComPtr<IMFMediaType> MakeVideoType(const VideoSettings& settings,
                                   const std::vector<std::uint8_t>& sequenceHeader) {
    const bool hevc = settings.encoder == "libx265";
    ComPtr<IMFMediaType> type = NewType(MFMediaType_Video, hevc ? MFVideoFormat_HEVC : MFVideoFormat_H264);
    Check(MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, UINT32(settings.width), UINT32(settings.height)),
          "MFSetAttributeSize");
    Check(MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, UINT32(settings.frameRate), 1),
          "MFSetAttributeRatio");
    Check(MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1), "MFSetAttributeRatio");
    Check(type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive), "SetUINT32");
    Check(type->SetUINT32(MF_MT_AVG_BITRATE, 0), "SetUINT32");
    Check(type->SetUINT32(MF_MT_MPEG2_PROFILE, hevc ? 1 : 100), "SetUINT32");
    if (!sequenceHeader.empty())
        Check(type->SetBlob(MF_MT_MPEG_SEQUENCE_HEADER, sequenceHeader.data(), UINT32(sequenceHeader.size())),
              "SetBlob");
    return type;
}

ComPtr<IMFMediaType> MakeAacType(int sampleRate, int channels,
                                 const std::vector<std::uint8_t>& audioSpecificConfig) {
    ComPtr<IMFMediaType> type = NewType(MFMediaType_Audio, MFAudioFormat_AAC);
    SetAudioBasics(type.Get(), sampleRate, channels);
    Check(type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 24000), "SetUINT32");
    Check(type->SetUINT32(MF_MT_AAC_PAYLOAD_TYPE, 0), "SetUINT32");
    Check(type->SetUINT32(MF_MT_AAC_AUDIO_PROFILE_LEVEL_INDICATION, 0x29), "SetUINT32");
    // HEAACWAVEINFO after its WAVEFORMATEX: payload type, profile/level, struct type, two reserved fields.
    std::vector<std::uint8_t> userData = {0x00, 0x00, 0x29, 0x00, 0x00, 0x00,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    userData.insert(userData.end(), audioSpecificConfig.begin(), audioSpecificConfig.end());
    Check(type->SetBlob(MF_MT_USER_DATA, userData.data(), UINT32(userData.size())), "SetBlob");
    return type;
}

ComPtr<IMFMediaType> MakeFlacType(int sampleRate, int channels, const std::vector<std::uint8_t>& streamInfo) {
    ComPtr<IMFMediaType> type = NewType(MFMediaType_Audio, MFAudioFormat_FLAC);
    SetAudioBasics(type.Get(), sampleRate, channels);
    Check(type->SetBlob(MF_MT_USER_DATA, streamInfo.data(), UINT32(streamInfo.size())), "SetBlob");
    return type;
}
