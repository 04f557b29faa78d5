#pragma once
// The GPUs of the machine as DRM render nodes in sysfs, with what DXGI reports of an adapter.

#include <dxgitype.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

struct DrmDevice {
    std::string node; // e.g. "renderD128"
    UINT vendorId = 0;
    UINT deviceId = 0;
    UINT subSysId = 0; // subsystem device << 16 | subsystem vendor
    UINT revision = 0;
    std::string driver;
    std::string busId;
    UINT64 driverVersion = 0; // four 16-bit parts, most significant first
    LUID luid{};              // the render node's device number: minor, major
    UINT64 dedicatedVideoMemory = 0;
    bool bootVga = false;
};

// The boot VGA device first, then by render node. `drmClass` is /sys/class/drm, `modules` /sys/module; a
// driver without a module version takes the kernel release as its version.
std::vector<DrmDevice> EnumerateDrmDevices(const std::filesystem::path& drmClass,
                                           const std::filesystem::path& modules,
                                           std::string_view kernelRelease);
// The machine's GPUs; PYX_TEST_SYSFS_ROOT, when set, names the folder that stands in for /sys.
std::vector<DrmDevice> EnumerateDrmDevices();

// "550.54.14" → 550.54.14.0, "6.1.0-18-amd64" → 6.1.0.18.
UINT64 PackDriverVersion(std::string_view text);
