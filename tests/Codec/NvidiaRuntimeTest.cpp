#include "Codec/MfHelperNvidia.h"
#include "FakeRuntimeTest.h"
#include "TempDirectory.h"
#include <libloaderapi.h>

#include <gtest/gtest.h>

namespace {

using kiv::Error;
using kiv::RuntimeLibrary;

using NvidiaRuntimeTest = FakeRuntimeTest;

TEST_F(NvidiaRuntimeTest, AMissingRuntimeOrEntryPointLeavesTheBindingUnloaded) {
    TempDirectory empty;
    RuntimeLibrary::setSearchDirectoryForTests(empty.Root().wstring());
    kiv::nv::CudaInterface cuda;
    EXPECT_EQ(cuda.load_(), Error::DllNotFound);
    EXPECT_EQ(kiv::nv::EncoderInterface().load_(), Error::DllNotFound);
    EXPECT_FALSE(cuda.isLoaded_());
    EXPECT_TRUE(
        log.Matches("ERROR \\(m_dll != nullptr\\) does not hold \\[kiv::nv::CudaInterface::load_@[0-9]+\\]"));
    kiv::nv::DecoderInterface nvdec;
    EXPECT_EQ(nvdec.load_(), Error::DllNotFound);

    // A runtime without the second entry of the table: nothing stays bound, and a later load tries again.
    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("nvidia-incomplete"));
    EXPECT_EQ(cuda.load_(), Error::EntryPointNotFound);
    EXPECT_FALSE(cuda.isLoaded_());
    EXPECT_EQ(cuda.Init, nullptr);
    EXPECT_TRUE(log.Matches("ERROR \\(cuDriverGetVersion != nullptr\\) does not hold .*"));
    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("nvidia"));
    EXPECT_EQ(cuda.load_(), Error::None);
    EXPECT_TRUE(cuda.isLoaded_());
}

TEST_F(NvidiaRuntimeTest, TheFakeRuntimeIsLoadedAndUsedThroughTheBinding) {
    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("nvidia"));
    kiv::nv::CudaInterface cuda;
    ASSERT_EQ(cuda.load_(), Error::None);
    EXPECT_EQ(cuda.load_(), Error::None); // idempotent
    EXPECT_EQ(cuda.majorVersion_, 12);
    EXPECT_EQ(cuda.minorVersion_, 2);

    int count = 0;
    EXPECT_EQ(cuda.DeviceGetCount(&count), CUDA_SUCCESS);
    EXPECT_EQ(count, 1);
    CUdevice device = -1;
    EXPECT_EQ(cuda.DeviceGet(&device, 0), CUDA_SUCCESS);
    char name[64] = {};
    EXPECT_EQ(cuda.DeviceGetName(name, sizeof(name), device), CUDA_SUCCESS);
    EXPECT_STREQ(name, "Fake CUDA Device");

    // The fake keeps the driver's rules: memory only within a context, frees only of its own allocations.
    CUdeviceptr memory = 0;
    EXPECT_EQ(int(cuda.MemAlloc_v2(&memory, 4096)), 201);
    CUcontext context = nullptr;
    ASSERT_EQ(cuda.CtxCreate_v2(&context, 0, device), CUDA_SUCCESS);
    EXPECT_EQ(cuda.MemAlloc_v2(&memory, 4096), CUDA_SUCCESS);
    EXPECT_EQ(cuda.MemFree_v2(memory), CUDA_SUCCESS);
    EXPECT_EQ(int(cuda.MemFree_v2(memory)), 1);
    CUcontext popped = nullptr;
    EXPECT_EQ(cuda.CtxPopCurrent_v2(&popped), CUDA_SUCCESS);
    EXPECT_EQ(popped, context);
    EXPECT_EQ(int(cuda.CtxPopCurrent_v2(&popped)), 201);
    EXPECT_EQ(cuda.CtxDestroy_v2(context), CUDA_SUCCESS);
    // An entry point the fake does not implement refuses loudly instead of pretending.
    EXPECT_EQ(int(cuda.StreamSynchronize(nullptr)), 801);

    kiv::nv::DecoderInterface nvdec;
    EXPECT_EQ(nvdec.load_(), Error::None);
    EXPECT_TRUE(nvdec.isLoaded_());
    EXPECT_EQ(log.Count("ERROR"), 0u);
}

TEST_F(NvidiaRuntimeTest, AFailingInitialisationUnloads) {
    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("nvidia"));
    // The fake is already in the process (loaded again, not twice): steer it through its own export.
    const HMODULE fake = LoadLibraryW((FakeRuntimes("nvidia") + L"/libcuda.so.1").c_str());
    ASSERT_NE(fake, nullptr);
    const auto setInitResult = reinterpret_cast<void (*)(int)>(GetProcAddress(fake, "fakeCudaSetInitResult"));
    ASSERT_NE(setInitResult, nullptr);
    setInitResult(100); // CUDA_ERROR_NO_DEVICE
    kiv::nv::CudaInterface cuda;
    EXPECT_EQ(cuda.load_(), Error::InitFailed);
    EXPECT_FALSE(cuda.isLoaded_());
    setInitResult(0);
    EXPECT_EQ(cuda.load_(), Error::None);
    FreeLibrary(fake);
}

TEST_F(NvidiaRuntimeTest, TheEncoderRuntimeMustServeTheHeadersVersion) {
    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("nvidia"));
    const HMODULE fake = LoadLibraryW((FakeRuntimes("nvidia") + L"/libnvidia-encode.so.1").c_str());
    ASSERT_NE(fake, nullptr);
    const auto setMaxVersion =
        reinterpret_cast<void (*)(std::uint32_t)>(GetProcAddress(fake, "fakeNvencSetMaxVersion"));
    const auto leaveOutFirst =
        reinterpret_cast<void (*)(bool)>(GetProcAddress(fake, "fakeNvencLeaveOutFirstFunction"));
    ASSERT_TRUE(setMaxVersion && leaveOutFirst);
    const std::uint32_t required = kiv::nv::EncoderInterface::RequiredVersion;

    setMaxVersion(required - 1);
    kiv::nv::EncoderInterface nvenc;
    EXPECT_EQ(nvenc.load_(), Error::VersionTooOld);
    EXPECT_FALSE(nvenc.isLoaded_());
    EXPECT_EQ(nvenc.GetMaxSupportedVersion, nullptr);

    // A list without one of its functions is refused, not run into.
    setMaxVersion(0xD0); // 13.0
    leaveOutFirst(true);
    EXPECT_EQ(nvenc.load_(), Error::EntryPointNotFound);
    EXPECT_TRUE(log.Matches("ERROR \\(this->OpenEncodeSessionEx\\) does not hold .*"));
    leaveOutFirst(false);

    ASSERT_EQ(nvenc.load_(), Error::None);
    EXPECT_TRUE(nvenc.isLoaded_());
    EXPECT_EQ(nvenc.majorVersion_, 13);
    EXPECT_EQ(nvenc.minorVersion_, 0);
    // The functions come from the runtime's list; the fake refuses what it does not implement.
    EXPECT_EQ(nvenc.EncodePicture(nullptr, nullptr), NV_ENC_ERR_UNIMPLEMENTED);
    setMaxVersion(required);
    FreeLibrary(fake);
}

TEST(NvidiaStatusTest, VendorStatusesBecomeCustomerHresults) {
    EXPECT_EQ(kiv::nv::NvencToHresult(0), S_OK);
    EXPECT_EQ(std::uint32_t(kiv::nv::NvencToHresult(1)), 0xA55D2001u);
    EXPECT_EQ(std::uint32_t(kiv::nv::NvencToHresult(8)), 0xA55D2008u);
    EXPECT_EQ(std::uint32_t(kiv::nv::NvencToHresult(25)), 0xA55D2019u);
    EXPECT_EQ(std::uint32_t(kiv::nv::NvencToHresult(30)), 0xA55D281Eu);
    EXPECT_EQ(kiv::nv::CudaToHresult(CUDA_SUCCESS), S_OK);
    EXPECT_EQ(std::uint32_t(kiv::nv::CudaToHresult(CUDA_ERROR_UNKNOWN)), 0xA55D5BE7u);
    EXPECT_TRUE(FAILED(kiv::nv::CudaToHresult(CUresult(1))));
}

} // namespace
