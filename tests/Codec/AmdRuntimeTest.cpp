#include "Codec/DriverVersion.h"
#include "Codec/MfHelperAmd.h"
#include "FakeRuntimeTest.h"
#include "TempDirectory.h"
#include <libloaderapi.h>

#include <gtest/gtest.h>

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

TEST(AmdStatusTest, ResultsBecomeHresultsWithTheirSuccessCodes) {
    EXPECT_EQ(kiv::amd::ToHresult(0), S_OK);
    EXPECT_EQ(std::uint32_t(kiv::amd::ToHresult(1)), 0xA55D4001u);
    EXPECT_EQ(std::uint32_t(kiv::amd::ToHresult(24)), 0x255D4018u); // AMF_REPEAT succeeds
    EXPECT_TRUE(SUCCEEDED(kiv::amd::ToHresult(44)));
    EXPECT_EQ(std::uint32_t(kiv::amd::ToHresult(45)), 0xA55D402Du);
    EXPECT_EQ(std::uint32_t(kiv::amd::ToHresult(46)), 0xA55D482Eu);
}

} // namespace
