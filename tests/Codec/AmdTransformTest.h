#pragma once
// What the AMD transform tests share: the fake AMF runtime, what it saw, and the check that a transform
// neither misused it nor left any of its objects behind.

#include "CodecTransformTest.h"
#include "fake-runtimes/FakeAmfObservations.h"

namespace {

class AmdTransformTest : public CodecTransformTest {
protected:
    AmdTransformTest() : CodecTransformTest(0x1002, "amdgpu") {}

    void SetUp() override {
        CodecTransformTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        kiv::RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("amd"));
        m_fake = LoadLibraryW((FakeRuntimes("amd") + L"/libamfrt64.so.1").c_str());
        ASSERT_NE(m_fake, nullptr);
        m_observe =
            reinterpret_cast<FakeAmfObservationsFunction>(GetProcAddress(m_fake, "fakeAmfObservations"));
        ASSERT_NE(m_observe, nullptr);
        m_complaintsBefore = m_observe().complaints;
        m_liveBefore = m_observe().liveObjects;
    }
    void TearDown() override {
        ShutdownCodec();
        if (m_fake != nullptr) {
            EXPECT_EQ(m_observe().complaints, m_complaintsBefore) << "the transform misused the runtime";
            EXPECT_EQ(m_observe().liveObjects, m_liveBefore) << "the transform left runtime objects behind";
            FreeLibrary(m_fake);
        }
        CodecTransformTest::TearDown();
    }

    // The names of the properties set on the latest component, in order.
    std::vector<std::wstring> PropertiesSet() {
        std::vector<std::wstring> names;
        for (const auto& [name, value] : m_observe().propertiesSet)
            names.push_back(name);
        return names;
    }
    std::int64_t Latest(const wchar_t* name) { return m_observe().Latest(name).int64Value; }

    HMODULE m_fake = nullptr;
    FakeAmfObservationsFunction m_observe = nullptr;
    int m_complaintsBefore = 0;
    int m_liveBefore = 0;
};

} // namespace
