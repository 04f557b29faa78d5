#include "GpuList.h"

#include "Util/Logger.h"
#include <wrl/client.h>

#include <mutex>
#include <stdexcept>

namespace {

std::size_t Mebibytes(SIZE_T bytes) { return (bytes + 0x80000) >> 20; }

} // namespace

std::vector<GpuInfo> GpuList::Build(IDXGIFactory1* factory) {
    std::vector<GpuInfo> gpus;
    ComPtr<IDXGIAdapter1> adapter;
    for (UINT index = 0; factory->EnumAdapters1(index, &adapter) != DXGI_ERROR_NOT_FOUND; ++index) {
        if (!adapter)
            continue;
        GpuInfo gpu;
        if (FAILED(adapter->GetDesc1(&gpu.adapterDesc)) ||
            (gpu.adapterDesc.Flags & DXGI_ADAPTER_FLAG_SOFTWARE) != 0)
            continue;
        LARGE_INTEGER version{};
        if (SUCCEEDED(adapter->CheckInterfaceSupport(__uuidof(IDXGIDevice), &version)))
            gpu.driverVersion = static_cast<UINT64>(version.QuadPart);
        ComPtr<IDXGIOutput> output;
        for (UINT o = 0; gpu.outputCount < GpuInfo::MaxOutputs &&
                         adapter->EnumOutputs(o, &output) != DXGI_ERROR_NOT_FOUND;
             ++o) {
            if (output && SUCCEEDED(output->GetDesc(&gpu.outputs[gpu.outputCount])))
                ++gpu.outputCount;
        }
        gpus.push_back(gpu);
    }
    Log(gpus);
    return gpus;
}

void GpuList::Log(const std::vector<GpuInfo>& gpus) {
    for (std::size_t i = 0; i < gpus.size(); ++i) {
        const DXGI_ADAPTER_DESC1& desc = gpus[i].adapterDesc;
        const UINT64 version = gpus[i].driverVersion;
        LogInfo("GPU %d: %S [V:%04X, D:%X.%X.%X, DV:%d.%d.%d.%d, M:%zu/%zu/%zu, L:%lX%08lX, F:%X, O:%u]",
                static_cast<int>(i), desc.Description, desc.VendorId, desc.DeviceId, desc.SubSysId,
                desc.Revision, static_cast<int>((version >> 48) & 0xFFFF),
                static_cast<int>((version >> 32) & 0xFFFF), static_cast<int>((version >> 16) & 0xFFFF),
                static_cast<int>(version & 0xFFFF), Mebibytes(desc.DedicatedVideoMemory),
                Mebibytes(desc.DedicatedSystemMemory), Mebibytes(desc.SharedSystemMemory),
                static_cast<unsigned long>(static_cast<ULONG>(desc.AdapterLuid.HighPart)),
                static_cast<unsigned long>(desc.AdapterLuid.LowPart), desc.Flags, gpus[i].outputCount);
    }
}

const std::vector<GpuInfo>& GpuList::Get() {
    static std::once_flag once;
    static std::vector<GpuInfo> gpus;
    std::call_once(once, [] {
        ComPtr<IDXGIFactory1> factory;
        if (FAILED(CreateDXGIFactory1(IID_PPV_ARGS(&factory))))
            throw std::runtime_error("Failed to create dxgi factory.");
        gpus = Build(factory.Get());
    });
    return gpus;
}
