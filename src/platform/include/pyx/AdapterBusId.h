#pragma once
// The PCI bus id ("0000:01:00.0") of the GPU behind a DXGI adapter of this platform, by which vendor runtimes
// name their devices; empty for the CPU adapter and for adapters of no PCI device.

#include <dxgi.h>

#include <string>

std::string AdapterPciBusId(IDXGIAdapter* adapter);
