#include "CodecTable.h"

#include "DriverVersion.h"
#include "Exception.h"
#include "MfDecoderAmd.h"
#include "MfDecoderIntelBase.h"
#include "MfDecoderNvidia.h"
#include "MfEncoderAmd.h"
#include "MfEncoderIntelBase.h"
#include "MfEncoderNvidia.h"
#include <mfapi.h>

#include <cwchar>
#include <initializer_list>

namespace kiv::mfcodec {

namespace {

constexpr std::uint16_t ReportVendorId = 0xD4E1;
constexpr std::uint16_t Amd = 0x1002;
constexpr std::uint16_t Intel = 0x8086;
constexpr std::uint16_t Nvidia = 0x10DE;

constexpr std::uint64_t NvidiaDecoderDriver = PackVersion(31, 0, 15, 3640);
constexpr std::uint64_t NvidiaEncoderDriver = PackVersion(31, 0, 15, 5176);

const std::initializer_list<GUID> H264 = {MFVideoFormat_H264, MFVideoFormat_H264_ES};
const std::initializer_list<GUID> Hevc = {MFVideoFormat_HEVC, MFVideoFormat_HEVC_ES, MFVideoFormat_H265};
const std::initializer_list<GUID> Pictures = {MFVideoFormat_ARGB32, MFVideoFormat_NV12};
const std::initializer_list<GUID> Nv12 = {MFVideoFormat_NV12};

// The vendor transform classes are built on this library one by one; an entry whose class is not in this
// build is listed with its real description, and creating it fails with a line that says so.
#define KIV_CLASS_NOT_BUILT(Class)                                                                           \
    [](ComPtr<Base>&, const EncoderQuery&) {                                                                 \
        throw Exception(0, __LINE__, #Class " is part of this build", "kiv::mfcodec::" #Class "::create",    \
                        __FILE__);                                                                           \
    }

RegistrationInfo Record(const wchar_t* name, bool disabled, std::uint16_t vendor, std::uint64_t minDriver,
                        const GUID& clsid, const GUID& category, std::initializer_list<GUID> inputs,
                        std::initializer_list<GUID> outputs, RegistrationInfo::CreateFunction create) {
    RegistrationInfo info{};
    std::wcsncpy(info.friendlyName, name, RegistrationInfo::MaxNameLength);
    info.disabled = disabled ? 1 : 0;
    info.isHardware = 1;
    info.reportVendorId = ReportVendorId;
    info.vendorId = vendor;
    info.minDriverVersion = minDriver;
    info.clsid = clsid;
    info.category = category;
    for (const GUID& subtype : inputs)
        info.inputTypes[info.inputCount++] = {MFMediaType_Video, subtype};
    for (const GUID& subtype : outputs)
        info.outputTypes[info.outputCount++] = {MFMediaType_Video, subtype};
    info.create = create;
    return info;
}

} // namespace

std::vector<RegistrationInfo> CodecTable() {
    const GUID& decoder = MFT_CATEGORY_VIDEO_DECODER;
    const GUID& encoder = MFT_CATEGORY_VIDEO_ENCODER;
    return {
        Record(L"Corvane H.264 Decoder for AMD", false, Amd, AmdDriver,
               GuidFromString("b0554882-304e-4905-a8a4-e465aacec4c2"), decoder, H264, Nv12,
               &DecoderAmdH264::create),
        Record(L"Corvane HEVC Decoder for AMD", false, Amd, AmdDriver,
               GuidFromString("33268ba4-d949-413b-b4e0-c00553b4c4fb"), decoder, Hevc, Nv12,
               &DecoderAmdHevc::create),
        Record(L"Corvane H.264 Decoder for Intel", false, Intel, IntelDecoderDriver,
               GuidFromString("c0c2fb68-e203-4de9-9730-961fccd54e43"), decoder, H264, Nv12,
               &DecoderIntelH264::create),
        Record(L"Corvane HEVC Decoder for Intel", false, Intel, IntelDecoderDriver,
               GuidFromString("53ec57a0-5391-4101-bd75-8541ab927bd7"), decoder, Hevc, Nv12,
               &DecoderIntelHevc::create),
        Record(L"Corvane HEVC Decoder for Nvidia", false, Nvidia, NvidiaDecoderDriver,
               GuidFromString("07513356-412b-4737-a66e-826fbf63e695"), decoder, Hevc, Nv12,
               &DecoderNvidiaHevc::create),
        Record(L"Corvane H264 Decoder for Nvidia", false, Nvidia, NvidiaDecoderDriver,
               GuidFromString("f93caefe-a50e-41d9-8c4e-6ff834e322e0"), decoder, H264, Nv12,
               &DecoderNvidiaH264::create),
        Record(L"Corvane H.264 Encoder for AMD", false, Amd, AmdDriver,
               GuidFromString("e997db6a-d785-409a-8369-a01d237e7e8e"), encoder, Pictures, H264,
               &EncoderAmdH264::create),
        Record(L"Corvane HEVC Encoder for AMD", false, Amd, AmdDriver,
               GuidFromString("8cc9fea9-d638-4b85-a134-74db09224720"), encoder, Pictures, Hevc,
               &EncoderAmdHevc::create),
        Record(L"Corvane H.264 Encoder for Intel", false, Intel, IntelEncoderDriver,
               GuidFromString("225a0168-ebb1-4984-b552-18ba0ef19c4c"), encoder, Pictures, H264,
               &EncoderIntelH264::create),
        Record(L"Corvane HEVC Encoder for Intel", false, Intel, IntelEncoderDriver,
               GuidFromString("b139ae7b-f0ab-4dc8-b1a9-c15416cc11f4"), encoder, Pictures, Hevc,
               &EncoderIntelHevc::create),
        Record(L"Corvane H.264 Encoder for Nvidia", true, Nvidia, NvidiaEncoderDriver,
               GuidFromString("c9a91b5c-2c2f-43db-822e-34b56c1a7f3d"), encoder, Pictures, H264,
               &EncoderNvidiaH264::create),
        Record(L"Corvane HEVC Encoder for Nvidia", false, Nvidia, NvidiaEncoderDriver,
               GuidFromString("08d4e2d2-1335-44df-8587-aa5bbbf8333a"), encoder, Pictures, Hevc,
               &EncoderNvidiaHevc::create),
    };
}

} // namespace kiv::mfcodec
