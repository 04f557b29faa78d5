#pragma once
// A folder of sysfs's shape that describes one GPU the machine may lack: its DRM render node, its PCI
// device with vendor, device and driver, and the driver module's version. The platform reads it instead of
// /sys when PYX_TEST_SYSFS_ROOT names it, so the codec library sees that GPU and loads its vendor's
// (fake) runtime.

#include "TempDirectory.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

class FakeGpuSysfs {
public:
    // An NVIDIA GPU at PCI bus id 0000:01:00.0, the fake CUDA driver's device, with a driver new enough for
    // every NVIDIA transform.
    static constexpr const char* NvidiaBusId = "0000:01:00.0";

    explicit FakeGpuSysfs(unsigned vendorId = 0x10DE, const std::string& driver = "nvidia",
                          const std::string& driverVersion = "560.35.03") {
        namespace fs = std::filesystem;
        const fs::path device = m_root.Path("devices/pci0000:00") / NvidiaBusId;
        const fs::path driverFolder = m_root.Path("bus/pci/drivers") / driver;
        const fs::path node = m_root.Path("class/drm/renderD128");
        fs::create_directories(device);
        fs::create_directories(driverFolder);
        fs::create_directories(node);
        fs::create_directories(m_root.Path("module") / driver);
        char vendor[16];
        std::snprintf(vendor, sizeof(vendor), "0x%04x", vendorId);
        Write(device / "vendor", vendor);
        Write(device / "device", "0x2684");
        Write(device / "subsystem_vendor", vendor);
        Write(device / "subsystem_device", "0x16f3");
        Write(device / "revision", "0xa1");
        Write(device / "boot_vga", "1");
        fs::create_directory_symlink(driverFolder, device / "driver");
        fs::create_directory_symlink(device, node / "device");
        Write(node / "dev", "226:128");
        Write(m_root.Path("module") / driver / "version", driverVersion);
    }

    std::string Root() const { return m_root.Root().string(); }

private:
    static void Write(const std::filesystem::path& file, const std::string& text) {
        std::ofstream(file) << text << '\n';
    }

    TempDirectory m_root;
};
