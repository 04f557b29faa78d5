#include "EncoderSelection.h"

#include "MediaTypeNames.h"
#include "Util/HResultCheck.h"
#include "Util/Logger.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <stdexcept>

namespace {

constexpr UINT32 AmdVendorIds[] = {0x1002, 0x1022};

unsigned long Hex(HRESULT hr) { return static_cast<unsigned long>(static_cast<std::uint32_t>(hr)); }

std::wstring StringAttribute(IMFAttributes* attributes, REFGUID key) {
    LPWSTR value = nullptr;
    UINT32 length = 0;
    if (FAILED(attributes->GetAllocatedString(key, &value, &length)))
        return {};
    std::wstring text(value, length);
    CoTaskMemFree(value);
    return text;
}

// "VEN_10DE" gives 0x10DE: the hexadecimal number after the first underscore.
UINT32 VendorIdOf(IMFAttributes* attributes) {
    const std::wstring text = StringAttribute(attributes, MFT_ENUM_HARDWARE_VENDOR_ID_Attribute);
    const std::size_t underscore = text.find(L'_');
    if (underscore == std::wstring::npos)
        return 0;
    return static_cast<UINT32>(std::wcstoul(text.c_str() + underscore + 1, nullptr, 16));
}

std::vector<GUID> InputSubtypesOf(IMFAttributes* attributes) {
    UINT8* blob = nullptr;
    UINT32 size = 0;
    std::vector<GUID> subtypes;
    if (FAILED(attributes->GetAllocatedBlob(MFT_INPUT_TYPES_Attributes, &blob, &size)))
        return subtypes;
    for (UINT32 offset = 0; offset + sizeof(MFT_REGISTER_TYPE_INFO) <= size;
         offset += sizeof(MFT_REGISTER_TYPE_INFO)) {
        MFT_REGISTER_TYPE_INFO type;
        std::memcpy(&type, blob + offset, sizeof(type));
        subtypes.push_back(type.guidSubtype);
    }
    CoTaskMemFree(blob);
    return subtypes;
}

bool Declares(const EncoderInfo& encoder, REFGUID subtype) {
    return std::find(encoder.inputs.begin(), encoder.inputs.end(), subtype) != encoder.inputs.end();
}

bool IsAmdHevc(const EncoderInfo& encoder) {
    const bool amd = std::find(std::begin(AmdVendorIds), std::end(AmdVendorIds), encoder.vendorId) !=
                     std::end(AmdVendorIds);
    return amd && (encoder.output == MFVideoFormat_HEVC || encoder.output == MFVideoFormat_H265 ||
                   encoder.output == MFVideoFormat_HEVC_ES);
}

void LogEntry(const EncoderInfo& info, bool match) {
    LogInfo("  %ls - VID:%X HW:%d D3D11:%d Inputs:%ls Match:%d", info.name.c_str(), info.vendorId,
            info.hardware ? 1 : 0, info.d3d11Aware ? 1 : 0, MediaTypeNameList(info.inputs).c_str(),
            match ? 1 : 0);
}

} // namespace

EncoderSelection::EncoderSelection(TransformEnumerator enumerate, CustomCodecEnumerator customCodecs)
    : m_enumerate(std::move(enumerate)), m_customCodecs(std::move(customCodecs)) {}

bool EncoderSelection::Keep(const EncoderQuery& query, const EncoderInfo& info) {
    return !query.filter || query.filter(info);
}

std::vector<EncoderInfo> EncoderSelection::Search(const EncoderQuery& query) const {
    std::vector<EncoderInfo> found = SearchCustom(query);
    SearchPlatform(query, found);
    return found;
}

std::vector<EncoderInfo> EncoderSelection::SearchCustom(const EncoderQuery& query) const {
    LogInfo("Enumerating MFTS: %ls -> %ls", MediaTypeName(query.inputSubtype),
            MediaTypeName(query.outputSubtype));
    std::vector<EncoderInfo> found;
    if (query.includeCustomCodecs == 1 && m_customCodecs) {
        m_customCodecs(query, [&](EncoderInfo&& info) {
            const bool match = Keep(query, info);
            LogEntry(info, match);
            if (match)
                found.push_back(std::move(info));
            return true;
        });
    }
    return found;
}

void EncoderSelection::SearchPlatform(const EncoderQuery& query, std::vector<EncoderInfo>& found) const {
    Pass(query, MFT_ENUM_FLAG_HARDWARE, true, found);
    if (query.includeSoftware == 1)
        Pass(query, MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_ASYNCMFT, false, found);
}

void EncoderSelection::Pass(const EncoderQuery& query, UINT32 flags, bool hardware,
                            std::vector<EncoderInfo>& found) const {
    const MFT_REGISTER_TYPE_INFO input{query.majorType, query.inputSubtype};
    const MFT_REGISTER_TYPE_INFO output{query.majorType, query.outputSubtype};
    IMFActivate** activates = nullptr;
    UINT32 count = 0;
    if (FAILED(LOG_IF_FAILED(m_enumerate(query.category, flags,
                                         query.inputSubtype == GUID_NULL ? nullptr : &input, &output,
                                         &activates, &count))))
        return;
    for (UINT32 i = 0; i < count; ++i) {
        EncoderInfo info;
        if (Describe(activates[i], query, hardware, info)) {
            const bool match = Keep(query, info);
            LogEntry(info, match);
            if (match)
                found.push_back(std::move(info));
        }
        activates[i]->Release();
    }
    CoTaskMemFree(activates);
}

bool EncoderSelection::Describe(IMFActivate* activate, const EncoderQuery& query, bool hardware,
                                EncoderInfo& info) const {
    info.vendorId = VendorIdOf(activate);
    info.name = StringAttribute(activate, MFT_FRIENDLY_NAME_Attribute);
    info.async = MFGetAttributeUINT32(activate, MF_TRANSFORM_ASYNC, FALSE) != FALSE;
    info.hardware = hardware;
    info.inputs = InputSubtypesOf(activate);
    info.output = query.outputSubtype;
    LOG_IF_FAILED(activate->SetUINT32(MF_LOW_LATENCY, 1));
    HRESULT hr = activate->ActivateObject(IID_PPV_ARGS(&info.mft));
    if (SUCCEEDED(hr))
        hr = info.mft->GetAttributes(&info.attrib);
    if (FAILED(hr)) {
        LogWarn("  %ls - failed to activate: 0x%08lx", info.name.c_str(), Hex(hr));
        return false;
    }
    info.d3d11Aware = MFGetAttributeUINT32(info.attrib.Get(), MF_SA_D3D11_AWARE, FALSE) != FALSE;
    return true;
}

std::vector<EncoderInfo> EncoderSelection::SearchVideo(const VideoCodecOptions& options,
                                                       VideoCodecChoice& codec) const {
    EncoderQuery query;
    query.includeSoftware = 1;
    query.includeCustomCodecs = options.includeCustomCodecs;
    query.videoCodec = codec;
    query.device = options.device;
    query.deviceVendor = options.deviceVendor;
    query.driverVersion = options.driverVersion;
    query.speedQualityPreset = options.codecPreset;
    query.longGop = options.codecLongGop;
    query.codecOptionValue = options.codecOptionValue;
    query.category = MFT_CATEGORY_VIDEO_ENCODER;
    query.majorType = MFMediaType_Video;
    // A hardware encoder of another vendor than the capture GPU cannot take its textures.
    query.filter = [vendor = options.deviceVendor](const EncoderInfo& info) {
        return !info.hardware || vendor == 0 || info.vendorId == vendor;
    };
    switch (codec) {
    case VideoCodecChoice::Automatic: {
        query.includeSoftware = 0;
        query.outputSubtype = MFVideoFormat_HEVC;
        std::vector<EncoderInfo> hevc = Search(query);
        if (!hevc.empty())
            return hevc;
        codec = VideoCodecChoice::H264;
        query.videoCodec = codec;
        query.includeSoftware = 1;
        query.outputSubtype = MFVideoFormat_H264;
        return Search(query);
    }
    case VideoCodecChoice::H264: {
        query.outputSubtype = MFVideoFormat_H264;
        std::vector<EncoderInfo> found = SearchCustom(query);
        if (found.empty() && query.includeCustomCodecs == 1) {
            EncoderQuery hevcQuery = query;
            hevcQuery.videoCodec = VideoCodecChoice::Hevc;
            hevcQuery.outputSubtype = MFVideoFormat_HEVC;
            std::vector<EncoderInfo> hevc = SearchCustom(hevcQuery);
            if (!hevc.empty()) {
                codec = VideoCodecChoice::Hevc;
                return hevc;
            }
        }
        SearchPlatform(query, found);
        return found;
    }
    case VideoCodecChoice::Hevc:
        query.outputSubtype = MFVideoFormat_HEVC;
        return Search(query);
    default:
        return {};
    }
}

EncoderInfo EncoderSelection::ChooseVideo(const VideoCodecOptions& options, GUID& input,
                                          VideoCodecKind& codecKind) const {
    VideoCodecChoice codec = options.codec;
    const std::vector<EncoderInfo> encoders = SearchVideo(options, codec);
    static const GUID* const Candidates[] = {&MFVideoFormat_ARGB32, &MFVideoFormat_NV12};
    for (const EncoderInfo& encoder : encoders) {
        for (const GUID* candidate : Candidates) {
            if (*candidate == MFVideoFormat_ARGB32 && IsAmdHevc(encoder)) {
                LogInfo("MF doesn't perform ARGB->HEVC encode on AMD hardware with current parameters; "
                        "falling back "
                        "to using NV12 instead.");
                continue;
            }
            if (!Declares(encoder, *candidate))
                continue;
            LogInfo("Selected video encoder: %ls [%ls->%ls]", encoder.name.c_str(), MediaTypeName(*candidate),
                    MediaTypeName(encoder.output));
            input = *candidate;
            codecKind = encoder.output == MFVideoFormat_H264 ? VideoCodecKind::H264 : VideoCodecKind::Hevc;
            return encoder;
        }
    }
    throw std::runtime_error("No suitable video encoder found");
}

ComPtr<IMFTransform> EncoderSelection::ChooseAudio(IMFMediaType* input, AudioCodecKind audioCodec,
                                                   EncoderInfo* chosenInfo) const {
    GUID inputSubtype = GUID_NULL;
    UINT32 sampleRate = 0;
    UINT32 channels = 0;
    ThrowIfFailed(input->GetGUID(MF_MT_SUBTYPE, &inputSubtype),
                  "input->GetGUID( MF_MT_SUBTYPE, &inputSubtype )");
    ThrowIfFailed(input->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &sampleRate),
                  "input->GetUINT32( MF_MT_AUDIO_SAMPLES_PER_SECOND, &sampleRate )");
    ThrowIfFailed(input->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels),
                  "input->GetUINT32( MF_MT_AUDIO_NUM_CHANNELS, &channels )");

    const GUID& outputSubtype = audioCodec == AudioCodecKind::Flac ? MFAudioFormat_FLAC : MFAudioFormat_AAC;
    ComPtr<IMFMediaType> output;
    ThrowIfFailed(MFCreateMediaType(&output), "MFCreateMediaType( &output )");
    ThrowIfFailed(output->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio),
                  "output->SetGUID( MF_MT_MAJOR_TYPE, MFMediaType_Audio )");
    ThrowIfFailed(output->SetGUID(MF_MT_SUBTYPE, outputSubtype),
                  "output->SetGUID( MF_MT_SUBTYPE, outputSubtype )");
    ThrowIfFailed(output->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16),
                  "output->SetUINT32( MF_MT_AUDIO_BITS_PER_SAMPLE, 16 )");
    ThrowIfFailed(output->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, sampleRate),
                  "output->SetUINT32( MF_MT_AUDIO_SAMPLES_PER_SECOND, sampleRate )");
    ThrowIfFailed(output->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, channels),
                  "output->SetUINT32( MF_MT_AUDIO_NUM_CHANNELS, channels )");
    ThrowIfFailed(output->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 24000),
                  "output->SetUINT32( MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 24000 )");

    EncoderQuery query;
    query.audio = 1;
    query.includeSoftware = 1;
    query.includeCustomCodecs = 1;
    query.audioCodec = audioCodec;
    query.category = MFT_CATEGORY_AUDIO_ENCODER;
    query.majorType = MFMediaType_Audio;
    query.outputSubtype = outputSubtype;
    query.filter = [inputSubtype](const EncoderInfo& info) {
        return Declares(info, inputSubtype);
    };
    std::vector<EncoderInfo> encoders = Search(query);
    if (encoders.empty())
        throw std::runtime_error("No audio encoders found");
    const EncoderInfo& chosen = encoders.front();
    LogInfo("Selected audio encoder: %ls [%ls->%ls]", chosen.name.c_str(), MediaTypeName(inputSubtype),
            MediaTypeName(outputSubtype));
    ComPtr<IMFTransform> encoder = chosen.mft;
    ThrowIfFailed(encoder->SetInputType(0, input, 0), "m_encoder->SetInputType( 0, input.Get(), 0 )");
    ThrowIfFailed(encoder->SetOutputType(0, output.Get(), 0),
                  "m_encoder->SetOutputType( 0, output.Get(), 0 )");
    if (chosenInfo != nullptr)
        *chosenInfo = chosen;
    return encoder;
}
