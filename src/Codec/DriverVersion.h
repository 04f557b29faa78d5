#pragma once
// The driver version the codec table's minimums are compared with, from what a Linux adapter reports. The
// minimums are written in the Windows form (a.b.c.d packed as four 16-bit parts); this is the one place that
// turns an adapter's version into that form.
//
// NVIDIA: the kernel module's "major.minor[.patch]" maps by NVIDIA's published numbering: the Windows version
//   is 31.0.1X.XXXX where XXXXX are the last five digits of major × 100 + minor (536.67 is 31.0.15.3667).
//   A minor part above 99 (Linux releases such as 535.183.01) counts as 99, so a driver is never taken for
//   newer than it is.
// Intel and AMD: the kernel release (i915, amdgpu) says nothing about the user-mode driver the transforms run
//   on. The version their runtime reports stands in for it once the runtime bindings provide it; until
//   then the version is unknown (0), and the enumeration skips those entries with its driver-version line.
// Other vendors: the adapter's version as it is.

#include <cstdint>

namespace kiv::mfcodec {

std::uint64_t CodecDriverVersion(std::uint32_t vendorId, std::uint64_t adapterVersion);

} // namespace kiv::mfcodec
