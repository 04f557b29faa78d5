#include "Codec/DriverVersion.h"
#include "Codec/MfHelperAmd.h"
#include "FakeRuntimeTest.h"
#include "TempDirectory.h"
#include <libloaderapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

using kiv::Error;
using kiv::RuntimeLibrary;

using AmdRuntimeTest = FakeRuntimeTest;

TEST_F(AmdRuntimeTest, LoadsOnlyARuntimeThatServesTheSdkAndHandsOutAFactory) {
    TempDirectory empty;
    RuntimeLibrary::setSearchDirectoryForTests(empty.Root().wstring());
    kiv::amd::AmfInterface amf;
    EXPECT_EQ(amf.load_(), Error::DllNotFound);
    EXPECT_TRUE(
        log.Matches("ERROR \\(m_dll != nullptr\\) does not hold \\[kiv::amd::AmfInterface::load_@[0-9]+\\]"));
    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("amd-incomplete"));
    EXPECT_EQ(amf.load_(), Error::EntryPointNotFound);
    EXPECT_TRUE(log.Matches("ERROR \\(AMFQueryVersion != nullptr\\) does not hold .*"));
    EXPECT_FALSE(amf.isLoaded_());

    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("amd"));
    const HMODULE fake = LoadLibraryW((FakeRuntimes("amd") + L"/libamfrt64.so.1").c_str());
    ASSERT_NE(fake, nullptr);
    const auto setVersion =
        reinterpret_cast<void (*)(std::uint64_t)>(GetProcAddress(fake, "fakeAmfSetVersion"));
    const auto noFactory = reinterpret_cast<void (*)(bool)>(GetProcAddress(fake, "fakeAmfHandOutNoFactory"));
    ASSERT_TRUE(setVersion && noFactory);

    // A runtime older than the SDK refuses to initialise.
    setVersion(0x00010004001F0000ULL); // 1.4.31.0
    EXPECT_EQ(amf.load_(), Error::InitFailed);
    EXPECT_EQ(amf.version_[2], 0);
    setVersion(0x0001000400210000ULL);
    noFactory(true);
    EXPECT_EQ(amf.load_(), Error::Unexpected);
    EXPECT_TRUE(log.Matches("ERROR \\(m_factory != nullptr\\) does not hold .*"));
    noFactory(false);

    ASSERT_EQ(amf.load_(), Error::None);
    EXPECT_TRUE(amf.isLoaded_());
    EXPECT_NE(amf.factory(), nullptr);
    EXPECT_EQ(amf.version_[0], 1);
    EXPECT_EQ(amf.version_[1], 4);
    EXPECT_EQ(amf.version_[2], 33);
    EXPECT_EQ(amf.load_(), Error::None);
    // The runtime's version stands in for the driver version of an AMD adapter.
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x1002, kiv::mfcodec::PackVersion(6, 8, 0, 0)),
              kiv::mfcodec::AmdDriver);
    FreeLibrary(fake);
}

// Through the runtime's factory: a context on its Vulkan device, a decoder, its properties and descriptions
// as the debugging listings show them, and its values read as integers.
TEST_F(AmdRuntimeTest, ListsAComponentsPropertiesAndDescriptionsAndReadsThemAsIntegers) {
    using namespace kiv::amd;
    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("amd"));
    AmfInterface amf;
    ASSERT_EQ(amf.load_(), Error::None);
    amf::AMFInterfacePtr<amf::AMFContext> context;
    ASSERT_EQ(amf.factory()->CreateContext(&context), AMF_OK);
    amf::AMFInterfacePtr<amf::AMFContext1> vulkan;
    ASSERT_EQ(context->QueryInterface(amf::AMFContext1::IID(), reinterpret_cast<void**>(&vulkan)), AMF_OK);
    ASSERT_EQ(vulkan->InitVulkan(nullptr), AMF_OK);
    amf::AMFInterfacePtr<amf::AMFComponent> decoder;
    ASSERT_EQ(amf.factory()->CreateComponent(context.GetPtr(), L"AMFVideoDecoderHW_H265_HEVC", &decoder),
              AMF_OK);
    ASSERT_EQ(decoder->SetProperty(L"TimestampMode", Int64Variant(2)), AMF_OK);
    ASSERT_EQ(decoder->SetProperty(L"CurrentSize", SizeVariant(1920, 1088)), AMF_OK);
    ASSERT_EQ(decoder->SetProperty(L"LowLatencyDecode", BoolVariant(true)), AMF_OK);

    EXPECT_EQ(PropertyListing(decoder.GetPtr(), L"AMF decoder properties"),
              L"AMF decoder properties (count=3)\n"
              L"    0.                  TimestampMode = 2\n"
              L"    1.                    CurrentSize = 1920,1088\n"
              L"    2.               LowLatencyDecode = true\n");
    const std::wstring info = PropertyInfoListing(decoder.GetPtr());
    EXPECT_EQ(info.rfind(L"Property Info (count=9)\n", 0), 0u) << info;
    // Access flags 0xFF, 0x3 and 0x4003.
    for (const wchar_t* line : {L"  0. TimestampMode: type=Int64/Normal, access=--ftRW, <nullptr>\n",
                                L"  1. ReorderMode: type=Int64/Normal, access=----RW, <nullptr>\n",
                                L"  7. CurrentSize: type=Size/Normal, access=-n--RW, <nullptr>\n"})
        EXPECT_NE(info.find(line), std::wstring::npos) << info;
    EXPECT_EQ(AccessFlagsText(0x8004), L"i--t--");

    std::int64_t value = -1;
    EXPECT_EQ(GetPropertyInt64(decoder.GetPtr(), L"TimestampMode", &value), AMF_OK);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(GetPropertyInt64(decoder.GetPtr(), L"LowLatencyDecode", &value), AMF_OK);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(GetPropertyInt64(decoder.GetPtr(), L"CurrentSize", &value), AMF_INVALID_DATA_TYPE);
    EXPECT_EQ(GetPropertyInt64(decoder.GetPtr(), L"SurfaceCopy", &value), AMF_NOT_FOUND);
    EXPECT_EQ(decoder->Terminate(), AMF_OK);
    decoder.Release();
    EXPECT_EQ(vulkan->Terminate(), AMF_OK);
}

// The vtable slot of a virtual member function (the Itanium ABI keeps 1 + its byte offset in the pointer).
template <class Member>
std::size_t Slot(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(std::uintptr_t));
    std::uintptr_t raw[2];
    std::memcpy(raw, &member, sizeof(raw));
    return (raw[0] - 1) / sizeof(void*);
}

// The declarations keep the runtime's vtable: a function in the wrong place would call another one.
TEST(AmdInterfacesTest, DeclarationsKeepTheSdkVtableSlots) {
    EXPECT_EQ(Slot(&amf::AMFFactory::CreateComponent), 1u);
    EXPECT_EQ(Slot(&amf::AMFPropertyStorage::GetPropertyAt), 7u);
    EXPECT_EQ(Slot(&amf::AMFContext::Terminate), 13u);
    EXPECT_EQ(Slot(&amf::AMFContext::AllocBuffer), 43u);
    EXPECT_EQ(Slot(&amf::AMFContext::AllocSurface), 44u);
    EXPECT_EQ(Slot(&amf::AMFContext1::InitVulkan), 58u);
    EXPECT_EQ(
        Slot(static_cast<AMF_RESULT (amf::AMFPropertyStorageEx::*)(std::size_t, const amf::AMFPropertyInfo**)
                             const>(&amf::AMFPropertyStorageEx::GetPropertyInfo)),
        14u);
    EXPECT_EQ(Slot(&amf::AMFComponent::Init), 17u);
    EXPECT_EQ(Slot(&amf::AMFComponent::SubmitInput), 22u);
    EXPECT_EQ(Slot(&amf::AMFComponent::QueryOutput), 23u);
    EXPECT_EQ(Slot(&amf::AMFData::Convert), 15u);
    EXPECT_EQ(Slot(&amf::AMFData::GetDuration), 22u);
    EXPECT_EQ(Slot(&amf::AMFBuffer::GetNative), 25u);
    EXPECT_EQ(Slot(&amf::AMFSurface::GetPlaneAt), 25u);
    EXPECT_EQ(Slot(&amf::AMFSurface::SetFrameType), 28u);
    EXPECT_EQ(Slot(&amf::AMFPlane::GetHPitch), 10u);
}

TEST(AmdStatusTest, ResultsBecomeHresultsWithTheirSuccessCodes) {
    EXPECT_EQ(kiv::amd::ToHresult(0), S_OK);
    EXPECT_EQ(std::uint32_t(kiv::amd::ToHresult(1)), 0xA55D4001u);
    EXPECT_EQ(std::uint32_t(kiv::amd::ToHresult(24)), 0x255D4018u); // AMF_REPEAT succeeds
    EXPECT_EQ(std::uint32_t(kiv::amd::ToHresult(25)), 0x255D4019u); // AMF_INPUT_FULL succeeds
    EXPECT_EQ(std::uint32_t(kiv::amd::ToHresult(28)), 0xA55D401Cu);
    EXPECT_TRUE(SUCCEEDED(kiv::amd::ToHresult(23)));
    EXPECT_TRUE(SUCCEEDED(kiv::amd::ToHresult(44)));
    EXPECT_EQ(std::uint32_t(kiv::amd::ToHresult(45)), 0xA55D402Du);
    EXPECT_EQ(std::uint32_t(kiv::amd::ToHresult(46)), 0xA55D482Eu);
}

} // namespace
