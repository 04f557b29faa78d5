// The GPU list and its log line, read from a DXGI factory the test describes; device creation and vendor
// lookup.

#include "Capture/GpuList.h"
#include "Capture/D3DUtil.h"
#include "Util/Logger.h"
#include <wrl/implements.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex g_linesMutex;
std::vector<std::string> g_lines;

void CollectLine(int, const char* message) {
    std::lock_guard lock(g_linesMutex);
    g_lines.emplace_back(message);
}

class LogCapture {
public:
    LogCapture() {
        m_logger.SetLineHook(CollectLine);
        Logger::Register(&m_logger);
        std::lock_guard lock(g_linesMutex);
        g_lines.clear();
    }
    ~LogCapture() { Logger::Register(nullptr); }
    std::vector<std::string> Lines() {
        std::lock_guard lock(g_linesMutex);
        return g_lines;
    }

private:
    Logger m_logger;
};

class FakeOutput final : public ComObject<IDXGIOutput1> {
public:
    explicit FakeOutput(HMONITOR monitor) : m_monitor(monitor) {}
    HRESULT STDMETHODCALLTYPE GetParent(REFIID, void**) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE GetDesc(DXGI_OUTPUT_DESC* desc) override {
        *desc = DXGI_OUTPUT_DESC{};
        desc->Monitor = m_monitor;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DuplicateOutput(IUnknown*, IDXGIOutputDuplication**) override {
        return E_NOTIMPL;
    }

private:
    HMONITOR m_monitor;
};

class FakeAdapter final : public ComObject<IDXGIAdapter1> {
public:
    FakeAdapter(DXGI_ADAPTER_DESC1 desc, UINT outputs, bool failDesc, LONGLONG version)
        : m_desc(desc), m_outputs(outputs), m_failDesc(failDesc), m_version(version) {}
    HRESULT STDMETHODCALLTYPE GetParent(REFIID, void**) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE EnumOutputs(UINT index, IDXGIOutput** output) override {
        if (index >= m_outputs)
            return DXGI_ERROR_NOT_FOUND;
        *output = MakeComObject<FakeOutput>(reinterpret_cast<HMONITOR>(std::uintptr_t{index + 1})).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDesc(DXGI_ADAPTER_DESC* desc) override {
        *desc = m_desc;
        return m_failDesc ? E_FAIL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckInterfaceSupport(REFGUID, LARGE_INTEGER* version) override {
        version->QuadPart = m_version;
        return m_version != 0 ? S_OK : DXGI_ERROR_UNSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_ADAPTER_DESC1* desc) override {
        *desc = m_desc;
        return m_failDesc ? E_FAIL : S_OK;
    }

private:
    DXGI_ADAPTER_DESC1 m_desc;
    UINT m_outputs;
    bool m_failDesc;
    LONGLONG m_version;
};

class FakeFactory final : public ComObject<IDXGIFactory1> {
public:
    std::vector<ComPtr<IDXGIAdapter1>> adapters;

    HRESULT STDMETHODCALLTYPE GetParent(REFIID, void**) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE EnumAdapters(UINT, IDXGIAdapter**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumAdapters1(UINT index, IDXGIAdapter1** adapter) override {
        if (index >= adapters.size())
            return DXGI_ERROR_NOT_FOUND;
        return adapters[index].CopyTo(adapter);
    }
    BOOL STDMETHODCALLTYPE IsCurrent() override { return TRUE; }
};

DXGI_ADAPTER_DESC1 AdapterDesc(const wchar_t* name, UINT vendor, UINT flags) {
    DXGI_ADAPTER_DESC1 desc{};
    std::wcsncpy(desc.Description, name, 127);
    desc.VendorId = vendor;
    desc.DeviceId = 0x2330;
    desc.SubSysId = 0x146710DE;
    desc.Revision = 0xA1;
    desc.DedicatedVideoMemory = SIZE_T{1} << 30;
    desc.SharedSystemMemory = 0x180000; // 1.5 MiB rounds to 2
    desc.AdapterLuid = LUID{0x80, 0xE2};
    desc.Flags = flags;
    return desc;
}

TEST(GpuListTest, SkipsSoftwareAndUnreadableAdaptersKeepsFourOutputsAndLogsEachEntry) {
    LogCapture log;
    FakeFactory factory;
    factory.adapters.emplace_back(
        MakeComObject<FakeAdapter>(AdapterDesc(L"Basic", 0x1414, DXGI_ADAPTER_FLAG_SOFTWARE), 1, false, 0));
    factory.adapters.emplace_back(MakeComObject<FakeAdapter>(AdapterDesc(L"Broken", 0x8086, 0), 1, true, 0));
    factory.adapters.emplace_back(MakeComObject<FakeAdapter>(
        AdapterDesc(L"Test GPU", 0x10DE, 0), 6, false, (550LL << 48) | (54LL << 32) | (14LL << 16) | 3));
    factory.adapters.emplace_back(
        MakeComObject<FakeAdapter>(AdapterDesc(L"Old GPU", 0x1002, 0), 0, false, 0));

    const auto gpus = GpuList::Build(&factory);
    ASSERT_EQ(gpus.size(), 2u);
    EXPECT_EQ(gpus[0].outputCount, 4u);
    EXPECT_EQ(gpus[0].outputs[3].Monitor, reinterpret_cast<HMONITOR>(std::uintptr_t{4}));
    EXPECT_EQ(gpus[1].outputCount, 0u);
    EXPECT_EQ(gpus[1].driverVersion, 0u);
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "GPU 0: Test GPU [V:10DE, D:2330.146710DE.A1, DV:550.54.14.3, M:1024/0/2, L:E200000080, "
              "F:0, O:4]");
    EXPECT_EQ(lines[1],
              "GPU 1: Old GPU [V:1002, D:2330.146710DE.A1, DV:0.0.0.0, M:1024/0/2, L:E200000080, F:0, O:0]");
}

TEST(D3DUtilTest, CreatesADeviceAndLogsTheChosenAdapter) {
    LogCapture log;
    ID3D11Device* device = reinterpret_cast<ID3D11Device*>(std::uintptr_t{1});
    EXPECT_EQ(D3DUtil::CreateD3D11Device(nullptr, nullptr), E_POINTER);
    ASSERT_EQ(D3DUtil::CreateD3D11Device(&device, nullptr), S_OK);
    ComPtr<ID3D11Device> owned;
    owned.Attach(device);
    EXPECT_EQ(owned->GetFeatureLevel(), D3D_FEATURE_LEVEL_11_0);
    EXPECT_EQ(owned->GetCreationFlags(), D3D11_CREATE_DEVICE_BGRA_SUPPORT);

    ComPtr<IDXGIDevice> dxgiDevice;
    ASSERT_EQ(owned->QueryInterface(IID_PPV_ARGS(&dxgiDevice)), S_OK);
    ComPtr<IDXGIAdapter> adapter;
    ASSERT_EQ(dxgiDevice->GetAdapter(&adapter), S_OK);
    DXGI_ADAPTER_DESC desc{};
    ASSERT_EQ(adapter->GetDesc(&desc), S_OK);
    EXPECT_EQ(D3DUtil::GetDeviceVendor(owned.Get()), desc.VendorId);
    EXPECT_EQ(D3DUtil::GetDeviceVendor(nullptr), 0u);

    const auto lines = log.Lines();
    const std::string selected =
        "Selected GPU " + std::string(desc.Description, desc.Description + std::wcslen(desc.Description)) +
        " (VendorID:" +
        [&] {
            char hex[16];
            std::snprintf(hex, sizeof(hex), "%X", desc.VendorId);
            return std::string(hex);
        }() +
        ")";
    EXPECT_NE(std::find(lines.begin(), lines.end(), "D3D11CreateDevice() succeeded. Feature level = 11.0"),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), selected), lines.end());
}

} // namespace
