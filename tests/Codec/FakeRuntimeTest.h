#pragma once
// What the vendor runtime tests share: the folders of the fake runtimes the build makes, and a fixture that
// captures the log and sends the loader back to the system's search rules afterwards.

#include "Codec/RuntimeLibrary.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

inline std::wstring FakeRuntimes(const std::string& folder) {
    return (std::filesystem::path(PYX_FAKE_RUNTIMES_DIR) / folder).wstring();
}

class FakeRuntimeTest : public testing::Test {
protected:
    ~FakeRuntimeTest() override { kiv::RuntimeLibrary::setSearchDirectoryForTests({}); }

    LogCapture log;
};
