#pragma once
// What the Intel transform tests share: a GPU that sysfs (a fake tree) reports as Intel, Debian's oneVPL
// dispatcher over the fake implementation with what it saw and the answers it is told to give, and a check
// that the transforms never misused it.

#include "CodecTransformTest.h"
#include "StderrCapture.h"
#include "fake-runtimes/FakeVplObservations.h"
#include <vpl/mfxvideo.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class IntelTransformTest : public CodecTransformTest {
protected:
    IntelTransformTest() : CodecTransformTest(0x8086, "i915") {}

    void SetUp() override {
        CodecTransformTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        // Implementations in the dispatcher's priority folder come first, so a runtime of the machine's
        // cannot take the fake's place.
        setenv("ONEVPL_PRIORITY_PATH", std::filesystem::path(FakeRuntimes("intel-runtime")).c_str(), 1);
        kiv::RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("intel"));
        m_fake = LoadLibraryW((FakeRuntimes("intel-runtime") + L"/libmfx-gen.so.1.2").c_str());
        ASSERT_NE(m_fake, nullptr);
        m_observe =
            reinterpret_cast<FakeVplObservationsFunction>(GetProcAddress(m_fake, "fakeVplObservations"));
        m_answer = reinterpret_cast<void (*)(mfxStatus, int)>(GetProcAddress(m_fake, "fakeVplAnswer"));
        m_openSessions = reinterpret_cast<std::size_t (*)()>(GetProcAddress(m_fake, "fakeVplOpenSessions"));
        m_liveSurfaces = reinterpret_cast<std::size_t (*)()>(GetProcAddress(m_fake, "fakeVplLiveSurfaces"));
        ASSERT_TRUE(m_observe && m_answer && m_openSessions && m_liveSurfaces);
        m_observe(true);
        m_complaints = std::make_unique<StderrCapture>();
    }
    void TearDown() override {
        if (m_codec)
            m_codec->Shutdown();
        m_codec = nullptr;
        if (m_fake != nullptr) {
            m_answer(MFX_ERR_NONE, 0);
            EXPECT_EQ(m_openSessions(), 0u);
            EXPECT_EQ(m_liveSurfaces(), 0u);
            FreeLibrary(m_fake);
        }
        if (m_complaints) {
            EXPECT_EQ(m_complaints->Text().find("fake oneVPL"), std::string::npos) << m_complaints->Text();
        }
        m_complaints.reset();
        unsetenv("ONEVPL_PRIORITY_PATH");
        CodecTransformTest::TearDown();
    }

    HMODULE m_fake = nullptr;
    FakeVplObservationsFunction m_observe = nullptr;
    void (*m_answer)(mfxStatus, int) = nullptr;
    std::size_t (*m_openSessions)() = nullptr;
    std::size_t (*m_liveSurfaces)() = nullptr;
    std::unique_ptr<StderrCapture> m_complaints;
};

} // namespace
