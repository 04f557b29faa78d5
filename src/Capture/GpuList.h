#pragma once
// The process-wide list of the machine's hardware adapters with their outputs, built and logged once.

#include <dxgi.h>

#include <vector>

struct GpuInfo {
    static constexpr UINT MaxOutputs = 4;

    DXGI_ADAPTER_DESC1 adapterDesc{};
    DXGI_OUTPUT_DESC outputs[MaxOutputs]{};
    UINT outputCount = 0;
    UINT64 driverVersion = 0; // zero when the adapter does not say
};

class GpuList {
public:
    // Builds the list on first use; throws std::runtime_error "Failed to create dxgi factory." when DXGI
    // cannot be reached (and tries again on the next call).
    static const std::vector<GpuInfo>& Get();

    // Reads the adapters of `factory` (software adapters and unreadable ones skipped) and logs each entry.
    static std::vector<GpuInfo> Build(IDXGIFactory1* factory);
    static void Log(const std::vector<GpuInfo>& gpus);
};
