#pragma once
// Processor intrinsics under their Windows names.

#include <cpuid.h>
#include <x86intrin.h>

// cpuid.h names its register macro like the Windows function; the function wins here.
#undef __cpuid

// The four registers EAX, EBX, ECX, EDX of processor information leaf `function` (sub-leaf 0).
inline void __cpuid(int cpuInfo[4], int function) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(static_cast<unsigned>(function), 0u, a, b, c, d);
    cpuInfo[0] = static_cast<int>(a);
    cpuInfo[1] = static_cast<int>(b);
    cpuInfo[2] = static_cast<int>(c);
    cpuInfo[3] = static_cast<int>(d);
}
