#pragma once
// The driver version the codec table's minimums are compared with, from what a Linux adapter and the vendors'
// runtimes report. The minimums are written in the Windows form (a.b.c.d packed as four 16-bit parts); this
// is the one place that turns a Linux version into that form.
//
// NVIDIA: the kernel module's "major.minor[.patch]" maps by NVIDIA's published numbering: the Windows version
//   is 31.0.1X.XXXX where XXXXX are the last five digits of major × 100 + minor (536.67 is 31.0.15.3667).
//   A minor part above 99 (Linux releases such as 535.183.01) counts as 99, so a driver is never taken for
//   newer than it is.
// Intel and AMD: the kernel release (i915, amdgpu) says nothing about the user-mode runtime the transforms
//   run on, so the version that runtime reports stands in for the driver. The Windows minimums stand for what
//   the transforms need of the runtime, which on Linux is a runtime version:
//   - Intel: the API version of the oneVPL hardware implementation the dispatcher takes. 2.10, which the
//     encoders' sessions ask for, counts as the encoders' minimum driver; 2.4, which the decoders' sessions
//     ask for, as the decoders' minimum; older counts as unknown (0).
//   - AMD: the AMF runtime's version. A runtime at least as new as the SDK the transforms are written
//     against (1.4.32) counts as the minimum driver; older as unknown (0).
//   Without the runtime the version is unknown (0), and the enumeration skips the entries with its
//   driver-version line.
// Other vendors: the adapter's version as it is.

#include "RegistrationInfo.h"

#include <cstdint>

namespace kiv::mfcodec {

// The Windows drivers the table's Intel and AMD entries ask for.
constexpr std::uint64_t AmdDriver = PackVersion(31, 0, 22017, 1011);
constexpr std::uint64_t IntelDecoderDriver = PackVersion(31, 0, 101, 4146);
constexpr std::uint64_t IntelEncoderDriver = PackVersion(31, 0, 101, 5333);

// The rule: `reported` is NVIDIA's module version, the oneVPL API version (major.minor.0.0) or the AMF
// runtime version, each packed; for other vendors the adapter's version.
std::uint64_t WindowsDriverVersion(std::uint32_t vendorId, std::uint64_t reported);

// What the enumeration compares: the rule applied to the adapter's version, or for Intel and AMD to the
// version their runtime reports (the runtime is loaded for it).
std::uint64_t CodecDriverVersion(std::uint32_t vendorId, std::uint64_t adapterVersion);

} // namespace kiv::mfcodec
