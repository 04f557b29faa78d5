#pragma once
// What the NVIDIA transform tests share: a GPU that sysfs (a fake tree) reports as NVIDIA, the fake runtimes
// and what the fake NVENC saw.

#include "Codec/NvidiaEntryPoints.h"
#include "CodecTransformTest.h"
#include "fake-runtimes/FakeNvencObservations.h"

namespace {

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

class NvidiaTransformTest : public CodecTransformTest {
protected:
    NvidiaTransformTest() : CodecTransformTest(0x10DE) {}

    void SetUp() override {
        CodecTransformTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        kiv::RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("nvidia"));
        m_fake = LoadLibraryW((FakeRuntimes("nvidia") + L"/libnvidia-encode.so.1").c_str());
        ASSERT_NE(m_fake, nullptr);
        m_observe =
            reinterpret_cast<FakeNvencObservationsFunction>(GetProcAddress(m_fake, "fakeNvencObservations"));
        ASSERT_NE(m_observe, nullptr);
    }
    void TearDown() override {
        if (m_codec)
            m_codec->Shutdown();
        m_codec = nullptr;
        if (m_fake != nullptr) {
            EXPECT_EQ(m_observe().openSessions, 0);
            EXPECT_EQ(m_observe().complaints, m_complaintsBefore) << "the transform misused the runtime";
            FreeLibrary(m_fake);
        }
        CodecTransformTest::TearDown();
    }

    void Create(const wchar_t* name) {
        m_complaintsBefore = m_observe().complaints;
        CodecTransformTest::Create(name);
    }

    // The session the latest BEGIN_STREAMING opened was for this codec, preset, tuning and GOP length.
    FakeNvencObservations ExpectSession(const GUID& codec, const GUID& preset, NV_ENC_TUNING_INFO tuning,
                                        std::uint32_t gop) {
        const FakeNvencObservations seen = m_observe();
        EXPECT_TRUE(SameGuid(seen.codecGuid, codec));
        EXPECT_TRUE(SameGuid(seen.presetGuid, preset));
        EXPECT_EQ(seen.tuningInfo, tuning);
        EXPECT_EQ(seen.config.gopLength, gop);
        return seen;
    }

    HMODULE m_fake = nullptr;
    FakeNvencObservationsFunction m_observe = nullptr;
    int m_complaintsBefore = 0;
};

} // namespace
