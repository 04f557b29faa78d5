#include "Codec/MfHelperNvidia.h"
#include "Codec/SampleAttributes.h"
#include "FakeGpuSysfs.h"
#include "FakeRuntimeTest.h"
#include "TempDirectory.h"
#include <d3d11.h>
#include <libloaderapi.h>
#include <mfapi.h>
#include <mfidl.h>

#include <cstdlib>

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
    EXPECT_EQ(int(cuda.ArrayDestroy(nullptr)), 801);

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
    // The functions come from the runtime's list; the fake refuses what it does not implement (Linux has no
    // completion events) and what breaks the API's rules.
    EXPECT_EQ(nvenc.RegisterAsyncEvent(nullptr, nullptr), NV_ENC_ERR_UNIMPLEMENTED);
    EXPECT_EQ(nvenc.EncodePicture(nullptr, nullptr), NV_ENC_ERR_ENCODER_NOT_INITIALIZED);
    // Exactly the headers' version (11.1 with Debian's) is enough.
    setMaxVersion(required);
    kiv::nv::EncoderInterface exact;
    EXPECT_EQ(exact.load_(), Error::None);
    FreeLibrary(fake);
}

ComPtr<ID3D11Device> CreateDevice() {
    ComPtr<ID3D11Device> device;
    EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                &device, nullptr, nullptr),
              S_OK);
    return device;
}

TEST_F(NvidiaRuntimeTest, TheAdaptersCudaDeviceIsFoundByPciBusId) {
    RuntimeLibrary::setSearchDirectoryForTests(FakeRuntimes("nvidia"));
    ASSERT_EQ(kiv::nv::Cuda.load_(), Error::None);
    CUdevice device = -1;
    EXPECT_EQ(int(kiv::nv::Cuda.getDevice_(nullptr, &device)), 1);
    EXPECT_TRUE(log.Matches("ERROR \\(inD3dDevice && outCudaDevice\\) does not hold .*"));
    {
        // The fake GPU of sysfs sits where the fake driver's device does; another bus id is no CUDA device.
        FakeGpuSysfs sysfs;
        setenv("PYX_TEST_SYSFS_ROOT", sysfs.Root().c_str(), 1);
        EXPECT_EQ(kiv::nv::Cuda.getDevice_(CreateDevice().Get(), &device), CUDA_SUCCESS);
        EXPECT_EQ(device, 0);
        unsetenv("PYX_TEST_SYSFS_ROOT");
    }
    TempDirectory noGpu;
    setenv("PYX_TEST_SYSFS_ROOT", noGpu.Root().c_str(), 1);
    EXPECT_EQ(int(kiv::nv::Cuda.getDevice_(CreateDevice().Get(), &device)), 100); // the CPU adapter
    unsetenv("PYX_TEST_SYSFS_ROOT");
}

TEST(NvidiaSampleInfoTest, FromMFReadsOneTextureSampleAndRefusesOthers) {
    using kiv::nv::EncoderInputSampleInfo;
    ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
    const ComPtr<ID3D11Device> device = CreateDevice();
    CD3D11_TEXTURE2D_DESC desc(DXGI_FORMAT_B8G8R8A8_UNORM, 64, 32, 1, 1);
    ComPtr<ID3D11Texture2D> texture;
    ASSERT_EQ(device->CreateTexture2D(&desc, nullptr, &texture), S_OK);
    ComPtr<IMFMediaBuffer> buffer;
    ASSERT_EQ(MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), texture.Get(), 0, FALSE, &buffer), S_OK);
    ComPtr<IMFSample> sample;
    MFCreateSample(&sample);
    sample->AddBuffer(buffer.Get());
    sample->SetSampleTime(1000);
    sample->SetSampleDuration(20);
    sample->SetUINT32(KIV_GUID_FRAMENUM, 9);

    EncoderInputSampleInfo info;
    EXPECT_EQ(EncoderInputSampleInfo::FromMF(nullptr, &info), E_POINTER);
    EXPECT_EQ(EncoderInputSampleInfo::FromMF(sample.Get(), nullptr), E_POINTER);
    ASSERT_EQ(EncoderInputSampleInfo::FromMF(sample.Get(), &info), S_OK);
    EXPECT_EQ(info.sample.Get(), sample.Get());
    EXPECT_EQ(info.streamNum, -1);
    EXPECT_EQ(info.frameNum, 9);
    EXPECT_EQ(info.timestamp, 1000);
    EXPECT_EQ(info.duration, 20);
    EXPECT_EQ(info.texture.Get(), texture.Get());
    EXPECT_EQ(info.width, 64u);
    EXPECT_EQ(info.height, 32u);
    EXPECT_EQ(info.pitch, 64u);
    EXPECT_EQ(info.bufferFormat, NV_ENC_BUFFER_FORMAT_ARGB);

    sample->AddBuffer(buffer.Get());
    EXPECT_EQ(EncoderInputSampleInfo::FromMF(sample.Get(), &info), E_UNEXPECTED);
    ComPtr<IMFSample> memorySample;
    ComPtr<IMFMediaBuffer> memory;
    MFCreateSample(&memorySample);
    MFCreateMemoryBuffer(16, &memory);
    memorySample->AddBuffer(memory.Get());
    memorySample->SetSampleTime(0);
    memorySample->SetSampleDuration(0);
    EXPECT_EQ(EncoderInputSampleInfo::FromMF(memorySample.Get(), &info), E_NOINTERFACE);

    using kiv::nv::BufferFormatFromDxgi;
    EXPECT_EQ(BufferFormatFromDxgi(DXGI_FORMAT_NV12), NV_ENC_BUFFER_FORMAT_NV12);
    EXPECT_EQ(BufferFormatFromDxgi(DXGI_FORMAT_R8G8B8A8_UNORM), NV_ENC_BUFFER_FORMAT_ABGR);
    EXPECT_EQ(BufferFormatFromDxgi(DXGI_FORMAT_R10G10B10A2_UNORM), NV_ENC_BUFFER_FORMAT_ABGR10);
    EXPECT_EQ(BufferFormatFromDxgi(DXGI_FORMAT_AYUV), NV_ENC_BUFFER_FORMAT_AYUV);
    EXPECT_EQ(BufferFormatFromDxgi(DXGI_FORMAT_R8_UNORM), NV_ENC_BUFFER_FORMAT_U8);
    EXPECT_EQ(BufferFormatFromDxgi(DXGI_FORMAT_P010), NV_ENC_BUFFER_FORMAT_UNDEFINED);
    MFShutdown();
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
