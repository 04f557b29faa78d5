// DXGI adapters from DRM devices in sysfs, and the machine's factory.

#include "platform/d3d/DrmDevices.h"
#include <d3d11.h>
#include <wrl/client.h>

#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text << "\n";
}

// A sysfs tree with two render nodes (an NVIDIA card with a versioned module, the boot VGA Intel device
// without) and a card node that is not a render node.
class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path devices = m_root / "devices";
        AddNode("renderD129", devices / "0000:01:00.0", "0x10de", "0x2330", "0x1467", "0x10de", "0xa1",
                "nvidia", "0", "226:129");
        AddNode("renderD128", devices / "0000:00:02.0", "0x8086", "0x46a6", "0x3000", "0x17aa", "0x0c",
                "i915", "1", "226:128");
        WriteFile(m_root / "module" / "nvidia" / "version", "550.54.14");
        fs::create_directories(m_root / "class" / "drm" / "card0");
    }

    void AddNode(const std::string& node, const fs::path& device, const std::string& vendor,
                 const std::string& id, const std::string& subDevice, const std::string& subVendor,
                 const std::string& revision, const std::string& driver, const std::string& bootVga,
                 const std::string& number) {
        const fs::path entry = m_root / "class" / "drm" / node;
        WriteFile(device / "vendor", vendor);
        WriteFile(device / "device", id);
        WriteFile(device / "subsystem_device", subDevice);
        WriteFile(device / "subsystem_vendor", subVendor);
        WriteFile(device / "revision", revision);
        WriteFile(device / "boot_vga", bootVga);
        fs::create_directories(m_root / "drivers" / driver);
        fs::create_directory_symlink(m_root / "drivers" / driver, device / "driver");
        WriteFile(entry / "dev", number);
        fs::create_directory_symlink(device, entry / "device");
    }

    TempDirectory m_temp;
    const fs::path m_root = m_temp.Root();
};

TEST_F(FakeSysfs, RenderNodesBecomeAdaptersBootDeviceFirst) {
    const auto devices = EnumerateDrmDevices(m_root / "class" / "drm", m_root / "module", "6.1.0-18-amd64");
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].node, "renderD128");
    EXPECT_EQ(devices[0].vendorId, 0x8086u);
    EXPECT_EQ(devices[0].deviceId, 0x46A6u);
    EXPECT_EQ(devices[0].subSysId, 0x300017AAu);
    EXPECT_EQ(devices[0].revision, 0x0Cu);
    EXPECT_EQ(devices[0].driver, "i915");
    EXPECT_EQ(devices[0].busId, "0000:00:02.0");
    EXPECT_EQ(devices[0].driverVersion, PackDriverVersion("6.1.0.18"));
    EXPECT_EQ(devices[0].luid.LowPart, 128u);
    EXPECT_EQ(devices[0].luid.HighPart, 226);
    EXPECT_EQ(devices[1].vendorId, 0x10DEu);
    EXPECT_EQ(devices[1].driverVersion, (550ull << 48) | (54ull << 32) | (14ull << 16));
}

TEST(DriverVersionTest, PacksFourSixteenBitParts) {
    EXPECT_EQ(PackDriverVersion("1.2.3.4"), 0x0001000200030004ull);
    EXPECT_EQ(PackDriverVersion("550.54"), 0x0226003600000000ull);
    EXPECT_EQ(PackDriverVersion("6.1.0-18-amd64"), 0x0006000100000012ull);
    EXPECT_EQ(PackDriverVersion("99999.1"), 0xFFFF000100000000ull);
    EXPECT_EQ(PackDriverVersion(""), 0u);
}

TEST(FactoryTest, EnumeratesAdaptersUntilNotFoundAndAnswersDriverVersions) {
    ComPtr<IDXGIFactory1> factory;
    ASSERT_EQ(CreateDXGIFactory1(IID_PPV_ARGS(&factory)), S_OK);
    UINT count = 0;
    ComPtr<IDXGIAdapter1> adapter;
    while (factory->EnumAdapters1(count, &adapter) == S_OK) {
        DXGI_ADAPTER_DESC1 desc{};
        EXPECT_EQ(adapter->GetDesc1(&desc), S_OK);
        LARGE_INTEGER version{};
        EXPECT_EQ(adapter->CheckInterfaceSupport(__uuidof(IDXGIDevice), &version), S_OK);
        EXPECT_EQ(adapter->CheckInterfaceSupport(__uuidof(ID3D11Device), &version), DXGI_ERROR_UNSUPPORTED);
        ComPtr<IDXGIFactory1> parent;
        EXPECT_EQ(adapter->GetParent(IID_PPV_ARGS(&parent)), S_OK);
        ++count;
    }
    EXPECT_GE(count, 1u);
    EXPECT_EQ(factory->EnumAdapters1(count, &adapter), DXGI_ERROR_NOT_FOUND);
    EXPECT_EQ(adapter.Get(), nullptr);
    EXPECT_EQ(factory->EnumAdapters1(0, nullptr), E_INVALIDARG);
}

TEST(FactoryTest, WithoutDrmDevicesTheDeviceRunsOnASoftwareAdapterOfVendorZero) {
    if (!EnumerateDrmDevices().empty())
        GTEST_SKIP() << "this machine has DRM devices";
    ComPtr<ID3D11Device> device;
    ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                &device, nullptr, nullptr),
              S_OK);
    ComPtr<IDXGIDevice> dxgiDevice;
    ASSERT_EQ(device->QueryInterface(IID_PPV_ARGS(&dxgiDevice)), S_OK);
    ComPtr<IDXGIAdapter> adapter;
    ASSERT_EQ(dxgiDevice->GetAdapter(&adapter), S_OK);
    ComPtr<IDXGIAdapter1> adapter1;
    ASSERT_EQ(adapter->QueryInterface(IID_PPV_ARGS(&adapter1)), S_OK);
    DXGI_ADAPTER_DESC1 desc{};
    ASSERT_EQ(adapter1->GetDesc1(&desc), S_OK);
    EXPECT_EQ(desc.VendorId, 0u);
    EXPECT_EQ(desc.Flags, DXGI_ADAPTER_FLAG_SOFTWARE);
}

} // namespace
