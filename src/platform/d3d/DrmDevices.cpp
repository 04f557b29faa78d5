#include "DrmDevices.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sys/utsname.h>

namespace {

std::string ReadLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

UINT ReadHex(const std::filesystem::path& path) {
    std::string text = ReadLine(path);
    if (text.rfind("0x", 0) == 0)
        text.erase(0, 2);
    UINT value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return value;
}

std::optional<DrmDevice> ReadDevice(const std::filesystem::directory_entry& entry,
                                    const std::filesystem::path& modules, std::string_view kernelRelease) {
    const std::filesystem::path device = entry.path() / "device";
    std::error_code error;
    if (!std::filesystem::exists(device / "vendor", error))
        return std::nullopt;
    DrmDevice result;
    result.node = entry.path().filename().string();
    result.vendorId = ReadHex(device / "vendor");
    result.deviceId = ReadHex(device / "device");
    result.subSysId = (ReadHex(device / "subsystem_device") << 16) | ReadHex(device / "subsystem_vendor");
    result.revision = ReadHex(device / "revision");
    result.driver = std::filesystem::read_symlink(device / "driver", error).filename().string();
    result.busId = std::filesystem::canonical(device, error).filename().string();
    result.bootVga = ReadLine(device / "boot_vga") == "1";
    const std::string moduleVersion =
        result.driver.empty() ? "" : ReadLine(modules / result.driver / "version");
    result.driverVersion = PackDriverVersion(moduleVersion.empty() ? kernelRelease : moduleVersion);
    // "226:128": the device number of the node, unique while the machine runs.
    const std::string number = ReadLine(entry.path() / "dev");
    const auto colon = number.find(':');
    if (colon != std::string::npos) {
        std::from_chars(number.data(), number.data() + colon, result.luid.HighPart);
        std::from_chars(number.data() + colon + 1, number.data() + number.size(), result.luid.LowPart);
    }
    const std::string vram = ReadLine(device / "mem_info_vram_total");
    std::from_chars(vram.data(), vram.data() + vram.size(), result.dedicatedVideoMemory);
    return result;
}

} // namespace

UINT64 PackDriverVersion(std::string_view text) {
    UINT64 packed = 0;
    int parts = 0;
    const char* p = text.data();
    const char* end = text.data() + text.size();
    while (parts < 4 && p < end) {
        if (*p < '0' || *p > '9') {
            ++p;
            continue;
        }
        unsigned value = 0;
        p = std::from_chars(p, end, value).ptr;
        packed = (packed << 16) | std::min(value, 0xFFFFu);
        ++parts;
    }
    // Missing trailing parts are zero; no digits at all is version 0 (a shift by 64 bits is undefined).
    return parts == 0 ? 0 : packed << (16 * (4 - parts));
}

std::vector<DrmDevice> EnumerateDrmDevices(const std::filesystem::path& drmClass,
                                           const std::filesystem::path& modules,
                                           std::string_view kernelRelease) {
    std::vector<DrmDevice> devices;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(drmClass, error)) {
        if (entry.path().filename().string().rfind("renderD", 0) != 0)
            continue;
        if (auto device = ReadDevice(entry, modules, kernelRelease))
            devices.push_back(std::move(*device));
    }
    std::sort(devices.begin(), devices.end(), [](const DrmDevice& a, const DrmDevice& b) {
        if (a.bootVga != b.bootVga)
            return a.bootVga;
        return a.luid.LowPart < b.luid.LowPart;
    });
    return devices;
}

std::vector<DrmDevice> EnumerateDrmDevices() {
    utsname name{};
    uname(&name);
    // For tests only: a tree of sysfs's shape describes GPUs the machine lacks (a vendor's runtime is then
    // exercised through its fake).
    const char* testRoot = std::getenv("PYX_TEST_SYSFS_ROOT");
    const std::filesystem::path sys = testRoot != nullptr && *testRoot != '\0' ? testRoot : "/sys";
    return EnumerateDrmDevices(sys / "class/drm", sys / "module", name.release);
}
