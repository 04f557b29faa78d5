#include "RingMediaTypes.h"

#include "Util/HResultCheck.h"
#include <mfapi.h>

#include <cstdint>

namespace {

constexpr UINT32 RecordedSampleRate = 48000;
constexpr UINT32 RecordedChannels = 2;
constexpr UINT32 RecordedBytesPerSecond = 24000;
constexpr UINT32 AacLevel = 0x29;

} // namespace

ComPtr<IMFMediaType> CreateVideoTypeFromKeyFrame(const KeyFrameInfo& keyFrame) {
    const GUID& subtype = keyFrame.codec == VideoCodec::Hevc ? MFVideoFormat_HEVC : MFVideoFormat_H264;
    ComPtr<IMFMediaType> type;
    THROW_IF_FAILED(MFCreateMediaType(&type));
    THROW_IF_FAILED(type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
    THROW_IF_FAILED(type->SetGUID(MF_MT_SUBTYPE, subtype));
    THROW_IF_FAILED(MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, keyFrame.width, keyFrame.height));
    THROW_IF_FAILED(type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive));
    THROW_IF_FAILED(type->SetBlob(MF_MT_MPEG_SEQUENCE_HEADER, keyFrame.parameterSets.data(),
                                  static_cast<UINT32>(keyFrame.parameterSets.size())));
    return type;
}

ComPtr<IMFMediaType> CreateRecordedAudioType() {
    // HEAACWAVEINFO after its WAVEFORMATEX (payload type raw, profile and level, struct type, reserved),
    // then the AudioSpecificConfig: AAC-LC, 48 kHz, two channels.
    static constexpr std::uint8_t UserData[] = {0x00, 0x00, AacLevel, 0x00, 0x00, 0x00, 0x00,
                                                0x00, 0x00, 0x00,     0x00, 0x00, 0x11, 0x90};
    ComPtr<IMFMediaType> type;
    THROW_IF_FAILED(MFCreateMediaType(&type));
    THROW_IF_FAILED(type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio));
    THROW_IF_FAILED(type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_AAC));
    THROW_IF_FAILED(type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, RecordedSampleRate));
    THROW_IF_FAILED(type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, RecordedChannels));
    THROW_IF_FAILED(type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16));
    THROW_IF_FAILED(type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, RecordedBytesPerSecond));
    THROW_IF_FAILED(type->SetUINT32(MF_MT_AAC_PAYLOAD_TYPE, 0));
    THROW_IF_FAILED(type->SetUINT32(MF_MT_AAC_AUDIO_PROFILE_LEVEL_INDICATION, AacLevel));
    THROW_IF_FAILED(type->SetBlob(MF_MT_USER_DATA, UserData, sizeof(UserData)));
    return type;
}
