#include "Codec/MfCodec.h"
#include "Codec/DriverVersion.h"
#include "LogCapture.h"
#include "TestCodec.h"
#include <mfapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using kiv::mfcodec::PackVersion;
using kiv::mfcodec::RegistrationInfo;

namespace {

constexpr std::uint64_t AnyDriver = PackVersion(99, 0, 0, 0);

// The real table, with transforms that can be created here.
std::vector<RegistrationInfo> CreatableTable(RegistrationInfo::CreateFunction create = &TestCodec::Create) {
    std::vector<RegistrationInfo> table;
    for (unsigned i = 0; const RegistrationInfo* info = kiv::mfcodec::GetStaticCodecInfo(i); ++i) {
        table.push_back(*info);
        table.back().create = create;
    }
    return table;
}

EncoderQuery Query(const GUID& category, const GUID& input, const GUID& output, UINT32 vendor,
                   std::uint64_t driver) {
    EncoderQuery query;
    query.category = category;
    query.majorType = MFMediaType_Video;
    query.inputSubtype = input;
    query.outputSubtype = output;
    query.deviceVendor = vendor;
    query.driverVersion = driver;
    return query;
}

// Names of what the enumeration offers, in order.
std::vector<std::wstring> Offered(const EncoderQuery& query,
                                  const std::vector<RegistrationInfo>& table = CreatableTable()) {
    std::vector<std::wstring> names;
    kiv::mfcodec::EnumerateCodecs(table, query, [&](EncoderInfo&& info) {
        names.push_back(info.name);
        return true;
    });
    return names;
}

class MfCodecTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(MFStartup(MF_VERSION), S_OK); }
    void TearDown() override { MFShutdown(); }

    LogCapture log;
};

TEST_F(MfCodecTest, TableHoldsTwelveSaneEntriesThatPublishTheirAttributes) {
    EXPECT_EQ(kiv::mfcodec::GetStaticCodecInfo(12), nullptr);
    const RegistrationInfo* decoder = kiv::mfcodec::GetStaticCodecInfo(5);
    ASSERT_NE(decoder, nullptr);
    EXPECT_STREQ(decoder->friendlyName, L"Corvane H264 Decoder for Nvidia");
    EXPECT_EQ(decoder->category, MFT_CATEGORY_VIDEO_DECODER);
    EXPECT_EQ(decoder->inputCount, 2u);
    EXPECT_EQ(decoder->inputTypes[1].guidSubtype, MFVideoFormat_H264_ES);
    const RegistrationInfo* hevc = kiv::mfcodec::GetStaticCodecInfo(11);
    EXPECT_STREQ(hevc->friendlyName, L"Corvane HEVC Encoder for Nvidia");
    EXPECT_EQ(hevc->minDriverVersion, PackVersion(31, 0, 15, 5176));
    EXPECT_EQ(hevc->outputCount, 3u);
    EXPECT_EQ(hevc->outputTypes[2].guidSubtype, MFVideoFormat_H265);
    EXPECT_EQ(kiv::mfcodec::GetStaticCodecInfo(10)->disabled, 1);
    EXPECT_EQ(kiv::mfcodec::GetStaticCodecInfo(0)->minDriverVersion, PackVersion(31, 0, 22017, 1011));
    for (unsigned i = 0; i < 12; ++i) {
        const RegistrationInfo& info = *kiv::mfcodec::GetStaticCodecInfo(i);
        EXPECT_TRUE(info.isSane()) << i;
        EXPECT_EQ(info.reportVendorId, 0xD4E1);
        EXPECT_EQ(info.isHardware, 1);
        EXPECT_EQ(info.disabled, i == 10 ? 1 : 0);
    }

    // A broken record is not sane: the slot past the count must be empty.
    RegistrationInfo broken = *hevc;
    broken.outputCount = 2;
    EXPECT_FALSE(broken.isSane());
    broken = *hevc;
    broken.create = nullptr;
    EXPECT_FALSE(broken.isSane());

    EXPECT_EQ(hevc->copyTo(nullptr), E_POINTER);
    EXPECT_EQ(hevc->makeCopy(nullptr, 0), E_POINTER);
    ComPtr<IMFAttributes> attributes;
    ASSERT_EQ(hevc->makeCopy(&attributes, 3), S_OK);
    UINT32 count = 0;
    attributes->GetCount(&count);
    EXPECT_EQ(count, 7u);
    wchar_t text[80] = {};
    attributes->GetString(MFT_ENUM_HARDWARE_VENDOR_ID_Attribute, text, 80, nullptr);
    EXPECT_STREQ(text, L"VEN_D4E1");
    attributes->GetString(MFT_ENUM_HARDWARE_URL_Attribute, text, 80, nullptr);
    EXPECT_STREQ(text, L"Supposedly-a-Symbolic-Link-to-HW-Device");
    EXPECT_EQ(MFGetAttributeUINT32(attributes.Get(), MFT_SUPPORT_DYNAMIC_FORMAT_CHANGE, 0), 1u);
}

TEST_F(MfCodecTest, EnumerationFiltersByCategoryTypesVendorAndDriver) {
    const GUID& encoder = MFT_CATEGORY_VIDEO_ENCODER;
    // The NVIDIA H.264 encoder is disabled.
    EXPECT_TRUE(Offered(Query(encoder, GUID_NULL, MFVideoFormat_H264, 0x10DE, AnyDriver)).empty());
    EXPECT_EQ(Offered(Query(encoder, GUID_NULL, MFVideoFormat_HEVC, 0x10DE, PackVersion(31, 0, 15, 5176))),
              std::vector<std::wstring>{L"Corvane HEVC Encoder for Nvidia"});
    EXPECT_TRUE(
        Offered(Query(encoder, GUID_NULL, MFVideoFormat_HEVC, 0x10DE, PackVersion(31, 0, 15, 5175))).empty());
    EXPECT_TRUE(
        log.Contains("WARN Codec 'Corvane HEVC Encoder for Nvidia' skipped because of driver version; "
                     "minimum required was 31.0.15.5176, but found 31.0.15.5175"));

    // No output subtype and no vendor: every enabled encoder that takes NV12, in table order.
    EXPECT_EQ(
        Offered(Query(encoder, MFVideoFormat_NV12, GUID_NULL, 0, AnyDriver)),
        (std::vector<std::wstring>{L"Corvane H.264 Encoder for AMD", L"Corvane HEVC Encoder for AMD",
                                   L"Corvane H.264 Encoder for Intel", L"Corvane HEVC Encoder for Intel",
                                   L"Corvane HEVC Encoder for Nvidia"}));
    EXPECT_EQ(
        Offered(Query(encoder, MFVideoFormat_ARGB32, GUID_NULL, 0x8086, AnyDriver)),
        (std::vector<std::wstring>{L"Corvane H.264 Encoder for Intel", L"Corvane HEVC Encoder for Intel"}));
    EXPECT_EQ(Offered(Query(MFT_CATEGORY_VIDEO_DECODER, MFVideoFormat_HEVC_ES, GUID_NULL, 0, AnyDriver)),
              (std::vector<std::wstring>{L"Corvane HEVC Decoder for AMD", L"Corvane HEVC Decoder for Intel",
                                         L"Corvane HEVC Decoder for Nvidia"}));
    // Any category, the major type alone decides; audio matches nothing.
    EXPECT_EQ(Offered(Query(GUID_NULL, MFVideoFormat_H264_ES, GUID_NULL, 0x1002, AnyDriver)),
              std::vector<std::wstring>{L"Corvane H.264 Decoder for AMD"});
    EncoderQuery audio = Query(MFT_CATEGORY_AUDIO_ENCODER, GUID_NULL, MFAudioFormat_AAC, 0, AnyDriver);
    audio.majorType = MFMediaType_Audio;
    EXPECT_TRUE(Offered(audio).empty());
    audio.category = GUID_NULL;
    EXPECT_TRUE(Offered(audio).empty());

    // An unreadable driver version skips every entry that would fit, each with its line.
    const std::size_t warnings = log.Count("WARN");
    EXPECT_TRUE(Offered(Query(encoder, MFVideoFormat_NV12, GUID_NULL, 0, 0)).empty());
    EXPECT_EQ(log.Count("WARN"), warnings + 5);
    EXPECT_TRUE(log.Contains("WARN Codec 'Corvane H.264 Encoder for AMD' skipped because of driver version; "
                             "minimum required was 31.0.22017.1011, but found 0.0.0.0"));
    EXPECT_EQ(log.Count("ERROR"), 0u);
}

TEST_F(MfCodecTest, OfferedTransformIsDescribedAndTheCallbackCanStop) {
    std::vector<EncoderInfo> offered;
    kiv::mfcodec::EnumerateCodecs(
        CreatableTable(), Query(MFT_CATEGORY_VIDEO_ENCODER, GUID_NULL, MFVideoFormat_HEVC, 0, AnyDriver),
        [&](EncoderInfo&& info) {
            offered.push_back(std::move(info));
            return false;
        });
    ASSERT_EQ(offered.size(), 1u);
    const EncoderInfo& info = offered.front();
    EXPECT_EQ(info.name, L"Corvane HEVC Encoder for AMD");
    EXPECT_EQ(info.inputs, (std::vector<GUID>{MFVideoFormat_ARGB32, MFVideoFormat_NV12}));
    EXPECT_EQ(info.output, MFVideoFormat_HEVC);
    EXPECT_EQ(info.vendorId, 0x1002u);
    EXPECT_TRUE(info.async && info.hardware && info.d3d11Aware);
    ASSERT_TRUE(info.mft && info.attrib);
    EXPECT_EQ(MFGetAttributeUINT32(info.attrib.Get(), MF_TRANSFORM_ASYNC, 0), 1u);
    ComPtr<IMFShutdown> shutdown;
    EXPECT_EQ(info.mft.As(&shutdown), S_OK);
    shutdown->Shutdown();
}

TEST_F(MfCodecTest, FailingEntriesAreLoggedAndSkipped) {
    const EncoderQuery query = Query(MFT_CATEGORY_VIDEO_ENCODER, MFVideoFormat_NV12, GUID_NULL, 0, AnyDriver);
    // Each vendor class refuses the query (not built yet, or not for the query's adapter) and says so, and
    // the next one is tried.
    std::size_t calls = 0;
    kiv::mfcodec::EnumerateCustomCodecs(query, [&](EncoderInfo&&) { return ++calls, true; });
    EXPECT_EQ(calls, 0u);
    EXPECT_EQ(log.Count("ERROR"), 5u);
    const std::string line = log.Lines().back();
    EXPECT_EQ(line.rfind("ERROR Error enumerating custom codec \"Corvane HEVC Encoder for Nvidia\": "
                         "(m_extOpts.deviceVendor == +VendorId::Nvidia) does not hold "
                         "[kiv::mfcodec::EncoderNvidiaBase::EncoderNvidiaBase@",
                         0),
              0u)
        << line;
    EXPECT_NE(line.find("]; skipping..."), std::string::npos);

    const auto throwsInt = [](ComPtr<kiv::mfcodec::Base>&, const EncoderQuery&) {
        throw 7;
    };
    EXPECT_TRUE(Offered(query, CreatableTable(throwsInt)).empty());
    EXPECT_TRUE(log.Contains("ERROR Unknown error in enumerating custom codec \"Corvane HEVC Encoder for "
                             "Nvidia\"; skipping..."));
    const auto makesNothing = [](ComPtr<kiv::mfcodec::Base>&, const EncoderQuery&) {
    };
    EXPECT_TRUE(Offered(query, CreatableTable(makesNothing)).empty());
    const std::vector<std::string> lines = log.Lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& text) {
        return text.rfind("ERROR Error enumerating custom codec \"Corvane H.264 Encoder for AMD\": (codec) "
                          "does not hold [",
                          0) == 0;
    }));

    // An empty callback is reported like a failed creation.
    const std::size_t errors = log.Count("ERROR");
    kiv::mfcodec::EnumerateCodecs(CreatableTable(), query, {});
    EXPECT_EQ(log.Count("ERROR"), errors + 5);
    EXPECT_TRUE(log.Contains("ERROR Error enumerating custom codec \"Corvane HEVC Encoder for Intel\": "
                             "bad_function_call; skipping..."));
}

TEST(CodecDriverVersionTest, LinuxVersionsMapOntoTheWindowsMinimums) {
    // NVIDIA module versions as /sys/module/nvidia/version gives them, packed by the adapter.
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x10DE, PackVersion(536, 67, 0, 0)),
              PackVersion(31, 0, 15, 3667));
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x10DE, PackVersion(550, 54, 14, 0)),
              PackVersion(31, 0, 15, 5054));
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x10DE, PackVersion(555, 42, 2, 0)),
              PackVersion(31, 0, 15, 5542));
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x10DE, PackVersion(470, 256, 2, 0)),
              PackVersion(31, 0, 14, 7099));
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x10DE, PackVersion(535, 183, 1, 0)),
              PackVersion(31, 0, 15, 3599));
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x10DE, 0), 0u);
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x1234, PackVersion(1, 2, 3, 4)), PackVersion(1, 2, 3, 4));

    // Intel and AMD by their runtimes' versions: oneVPL API 2.9 (Intel's 2023 GPU runtimes) serves the
    // decoders only, 2.10 and later the encoders too; a Media SDK runtime (API 1.35) neither. AMF 1.4.33
    // meets the AMD minimum, 1.4.29 does not.
    using kiv::mfcodec::WindowsDriverVersion;
    const auto intelMeets = [](std::uint64_t apiVersion) {
        std::vector<bool> meets;
        for (unsigned index = 0; const RegistrationInfo* info = kiv::mfcodec::GetStaticCodecInfo(index);
             ++index)
            if (info->vendorId == 0x8086)
                meets.push_back(WindowsDriverVersion(0x8086, apiVersion) >= info->minDriverVersion);
        return meets;
    };
    const std::vector<bool> decodersOnly = {true, true, false, false}; // H.264 and HEVC decoders, encoders
    EXPECT_EQ(intelMeets(PackVersion(2, 9, 0, 0)), decodersOnly);
    EXPECT_EQ(intelMeets(PackVersion(2, 11, 0, 0)), std::vector<bool>(4, true));
    EXPECT_EQ(intelMeets(PackVersion(1, 35, 0, 0)), std::vector<bool>(4, false));
    EXPECT_EQ(WindowsDriverVersion(0x1002, PackVersion(1, 4, 33, 0)), kiv::mfcodec::AmdDriver);
    EXPECT_EQ(WindowsDriverVersion(0x1002, PackVersion(1, 4, 29, 0)), 0u);

    // 555.42.02 meets the NVIDIA HEVC encoder's minimum, 550.54.14 does not.
    const RegistrationInfo& hevc = *kiv::mfcodec::GetStaticCodecInfo(11);
    EXPECT_GE(kiv::mfcodec::CodecDriverVersion(0x10DE, PackVersion(555, 42, 2, 0)), hevc.minDriverVersion);
    EXPECT_LT(kiv::mfcodec::CodecDriverVersion(0x10DE, PackVersion(551, 61, 0, 0)), hevc.minDriverVersion);
    EXPECT_GE(kiv::mfcodec::CodecDriverVersion(0x10DE, PackVersion(551, 76, 0, 0)), hevc.minDriverVersion);
}

} // namespace
