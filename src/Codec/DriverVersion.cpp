#include "DriverVersion.h"

#include "RegistrationInfo.h"

#include <algorithm>

namespace kiv::mfcodec {

namespace {

constexpr std::uint32_t Nvidia = 0x10DE;
constexpr std::uint32_t Intel = 0x8086;
constexpr std::uint32_t Amd = 0x1002;

std::uint64_t NvidiaWindowsVersion(std::uint64_t moduleVersion) {
    const auto major = static_cast<std::uint32_t>(moduleVersion >> 48);
    const auto minor = static_cast<std::uint32_t>((moduleVersion >> 32) & 0xFFFF);
    // NVIDIA's release numbers have three digits; anything else is not a module version.
    if (major < 100 || major > 999)
        return 0;
    const std::uint32_t release = major * 100 + std::min<std::uint32_t>(minor, 99);
    return PackVersion(31, 0, static_cast<std::uint16_t>(10 + release / 10000),
                       static_cast<std::uint16_t>(release % 10000));
}

} // namespace

std::uint64_t CodecDriverVersion(std::uint32_t vendorId, std::uint64_t adapterVersion) {
    switch (vendorId) {
    case Nvidia:
        return NvidiaWindowsVersion(adapterVersion);
    case Intel:
    case Amd:
        return 0;
    default:
        return adapterVersion;
    }
}

} // namespace kiv::mfcodec
