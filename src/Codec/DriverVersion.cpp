#include "DriverVersion.h"

#include "MfHelperAmd.h"
#include "MfHelperIntel.h"

#include <algorithm>
#include <mutex>

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

std::uint64_t IntelWindowsVersion(std::uint64_t apiVersion) {
    if (apiVersion >= PackVersion(2, 10, 0, 0))
        return IntelEncoderDriver;
    return apiVersion >= PackVersion(2, 4, 0, 0) ? IntelDecoderDriver : 0;
}

std::uint64_t AmdWindowsVersion(std::uint64_t runtimeVersion) {
    return runtimeVersion >= amd::AmfInterface::FullVersion ? AmdDriver : 0;
}

// The version the vendor's runtime reports, packed; 0 without the runtime.
std::uint64_t RuntimeVersion(std::uint32_t vendorId) {
    static std::mutex mutex;
    static intel::VplInterface vpl;
    static amd::AmfInterface amf;
    std::lock_guard lock(mutex);
    if (vendorId == Intel) {
        if (vpl.load_() != Error::None)
            return 0;
        const mfxU32 api = vpl.implementationApiVersion_();
        return PackVersion(static_cast<std::uint16_t>(api >> 16), static_cast<std::uint16_t>(api & 0xFFFF), 0,
                           0);
    }
    if (amf.load_() != Error::None)
        return 0;
    return PackVersion(amf.version_[0], amf.version_[1], amf.version_[2], amf.version_[3]);
}

} // namespace

std::uint64_t WindowsDriverVersion(std::uint32_t vendorId, std::uint64_t reported) {
    switch (vendorId) {
    case Nvidia:
        return NvidiaWindowsVersion(reported);
    case Intel:
        return IntelWindowsVersion(reported);
    case Amd:
        return AmdWindowsVersion(reported);
    default:
        return reported;
    }
}

std::uint64_t CodecDriverVersion(std::uint32_t vendorId, std::uint64_t adapterVersion) {
    const bool runtimeReports = vendorId == Intel || vendorId == Amd;
    return WindowsDriverVersion(vendorId, runtimeReports ? RuntimeVersion(vendorId) : adapterVersion);
}

} // namespace kiv::mfcodec
