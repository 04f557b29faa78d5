#include "Codec/DriverVersion.h"
#include "Codec/IntelVaDisplay.h"
#include "Codec/MfHelperIntel.h"
#include "FakeRuntimeTest.h"
#include "StderrCapture.h"
#include "TempDirectory.h"
#include <libloaderapi.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace {

using kiv::Error;
using kiv::RuntimeLibrary;
using kiv::intel::VplInterface;
using Microsoft::WRL::ComPtr;

class IntelRuntimeTest : public FakeRuntimeTest {
protected:
    IntelRuntimeTest() {
        ::setenv("ONEVPL_SEARCH_PATH", std::filesystem::path(FakeRuntimes("intel-runtime")).c_str(), 1);
        m_fake = LoadLibraryW((FakeRuntimes("intel-runtime") + L"/libmfx-gen.so.1.2").c_str());
    }
    ~IntelRuntimeTest() override {
        kiv::intel::VaDisplays::useDisplayForTests(nullptr);
        ::unsetenv("ONEVPL_SEARCH_PATH");
        if (m_fake != nullptr)
            FreeLibrary(m_fake);
    }
    template <typename Function>
    Function* Control(const char* name) {
        return reinterpret_cast<Function*>(GetProcAddress(m_fake, name));
    }

    HMODULE m_fake = nullptr;
};

TEST_F(IntelRuntimeTest, AMissingDispatcherOrEntryPointLeavesTheBindingUnloaded) {
    TempDirectory empty;
    RuntimeLibrary::setSearchDirectoryForTests(empty.Root().wstring());
    VplInterface vpl;
    EXPECT_EQ(vpl.load_(), Error::DllNotFound);
    EXPECT_TRUE(log.Matches(
        "ERROR \\(m_dll != nullptr\\) does not hold \\[kiv::intel::VplInterface::load_@[0-9]+\\]"));

    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("intel-incomplete"));
    EXPECT_EQ(vpl.load_(), Error::EntryPointNotFound);
    EXPECT_TRUE(log.Matches("ERROR \\(Unload = \\(decltype\\(::MFXUnload\\)\\*\\)::GetProcAddress\\(m_dll, "
                            "\"MFX\" \"Unload\"\\)\\) does not hold .*"));
    EXPECT_FALSE(vpl.isLoaded_());
    EXPECT_EQ(vpl.Load, nullptr);

    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("intel"));
    ASSERT_EQ(vpl.load_(), Error::None);
    EXPECT_TRUE(vpl.isLoaded_());
    EXPECT_EQ(vpl.load_(), Error::None);
}

// Debian's dispatcher finds the fake implementation on its own search path, filters it by the session's
// properties and makes the session on it.
TEST_F(IntelRuntimeTest, TheRealDispatcherMakesSessionsOnTheFakeImplementation) {
    ASSERT_NE(m_fake, nullptr);
    const auto setApiVersion = Control<void(mfxU32)>("fakeVplSetApiVersion");
    const auto openSessions = Control<std::size_t()>("fakeVplOpenSessions");
    const auto lastDisplay = Control<mfxHDL()>("fakeVplLastDisplay");
    const auto lastMode = Control<mfxU32()>("fakeVplLastAccelerationMode");
    ASSERT_TRUE(setApiVersion && openSessions && lastDisplay && lastMode);
    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("intel"));
    ComPtr<ID3D11Device> device;
    ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                &device, nullptr, nullptr),
              S_OK);
    int display = 0;
    kiv::intel::VaDisplays::useDisplayForTests(&display);
    StderrCapture complaints;

    // An implementation of API 2.9 serves decoders (2.4) but not encoders (2.10).
    setApiVersion(0x00020009);
    VplInterface encoderVpl;
    ASSERT_EQ(encoderVpl.load_(), Error::None);
    EXPECT_EQ(encoderVpl.implementationApiVersion_(), 0x00020009u);
    mfxSession session = nullptr;
    EXPECT_EQ(std::uint32_t(encoderVpl.createSession_(&session, device.Get(), MFX_CODEC_AVC, true, false)),
              0xA55D3009u); // MFX_ERR_NOT_FOUND
    EXPECT_EQ(session, nullptr);
    EXPECT_TRUE(log.Matches(".*CreateSession\\(m_loader, 0, outSession\\).* -> 0xA55D3009 .*"));

    VplInterface decoderVpl;
    ASSERT_EQ(decoderVpl.load_(), Error::None);
    ASSERT_EQ(decoderVpl.createSession_(&session, device.Get(), MFX_CODEC_HEVC, false, true), S_OK);
    EXPECT_EQ(openSessions(), 1u);
    EXPECT_EQ(lastMode(), mfxU32(MFX_ACCEL_MODE_VIA_VAAPI));
    EXPECT_EQ(lastDisplay(), &display);
    mfxHDL handle = nullptr;
    EXPECT_EQ(decoderVpl.VideoCORE_GetHandle(session, MFX_HANDLE_VA_DISPLAY, &handle), MFX_ERR_NONE);
    EXPECT_EQ(handle, &display);
    EXPECT_EQ(decoderVpl.Close(session), MFX_ERR_NONE);
    EXPECT_EQ(openSessions(), 0u);

    // At 2.10 an encoder session for H.264 is found; a codec the library does not name is refused up front.
    setApiVersion(0x0002000A);
    VplInterface laterVpl;
    ASSERT_EQ(laterVpl.load_(), Error::None);
    EXPECT_EQ(laterVpl.implementationApiVersion_(), 0x0002000Au);
    ASSERT_EQ(laterVpl.createSession_(&session, device.Get(), MFX_CODEC_AVC, true, false), S_OK);
    EXPECT_EQ(laterVpl.Close(session), MFX_ERR_NONE);
    EXPECT_EQ(laterVpl.createSession_(&session, device.Get(), MFX_CODEC_VP9, true, false), E_INVALIDARG);
    EXPECT_TRUE(
        log.Matches(".*\\(mfcodec::In\\(codecFourCC, MFX_CODEC_AV1, MFX_CODEC_AVC, MFX_CODEC_HEVC\\)\\) "
                    "does not hold .*"));
    EXPECT_EQ(laterVpl.createSession_(nullptr, device.Get(), MFX_CODEC_AVC, true, false), E_INVALIDARG);
    EXPECT_EQ(openSessions(), 0u);

    // The implementation's API version stands in for the driver version of an Intel adapter.
    const std::uint64_t kernelRelease = kiv::mfcodec::PackVersion(6, 1, 0, 18);
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x8086, kernelRelease), kiv::mfcodec::IntelEncoderDriver);
    setApiVersion(0x00020009);
    EXPECT_EQ(kiv::mfcodec::CodecDriverVersion(0x8086, kernelRelease), kiv::mfcodec::IntelDecoderDriver);
    EXPECT_EQ(complaints.Text().find("fake oneVPL"), std::string::npos) << complaints.Text();
}

TEST(IntelStatusTest, StatusCodesBecomeHresults) {
    using kiv::intel::ToHresult;
    EXPECT_EQ(ToHresult(MFX_ERR_NONE), S_OK);
    EXPECT_EQ(std::uint32_t(ToHresult(MFX_ERR_MORE_DATA)), 0xA55D300Au);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(-18))), 0xA55D3012u);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(-24))), 0xA55D3018u);
    EXPECT_EQ(std::uint32_t(ToHresult(MFX_WRN_DEVICE_BUSY)), 0x255D3402u);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(13))), 0x255D340Du);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(11))), 0xA55D380Bu);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(-20))), 0xA55D3FECu);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(-25))), 0xA55D3FE7u);
    EXPECT_EQ(std::uint32_t(ToHresult(mfxStatus(14))), 0xA55D380Eu);
}

TEST(IntelDispatcherScanTest, TheNewestDispatcherOfTheFoldersWins) {
    TempDirectory root;
    const auto folders = kiv::intel::DispatcherFolders(
        (root.Path("old").string() + "::" + root.Path("new").string() + ":" + root.Path("none").string())
            .c_str());
    ASSERT_GE(folders.size(), 3u);
    EXPECT_EQ(folders[folders.size() - 3], root.Path("old"));
    EXPECT_EQ(folders.back(), root.Path("none"));
    EXPECT_EQ(kiv::intel::DispatcherFolders(nullptr).size(), folders.size() - 3);

    const std::vector<std::filesystem::path> scanned(folders.end() - 3, folders.end());
    EXPECT_TRUE(kiv::intel::NewestFile(scanned, "libvpl.so.2").empty());
    const auto now = std::filesystem::file_time_type::clock::now();
    for (const char* folder : {"old", "new"}) {
        std::filesystem::create_directory(root.Path(folder));
        std::ofstream(root.Path(folder) / "libvpl.so.2") << folder;
    }
    std::filesystem::last_write_time(root.Path("old") / "libvpl.so.2", now - std::chrono::hours(1));
    std::filesystem::last_write_time(root.Path("new") / "libvpl.so.2", now);
    EXPECT_EQ(kiv::intel::NewestFile(scanned, "libvpl.so.2"), root.Path("new") / "libvpl.so.2");
    // Among equal times the first folder stays.
    std::filesystem::last_write_time(root.Path("old") / "libvpl.so.2", now);
    EXPECT_EQ(kiv::intel::NewestFile(scanned, "libvpl.so.2"), root.Path("old") / "libvpl.so.2");
}

} // namespace
