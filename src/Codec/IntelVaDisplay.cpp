#include "IntelVaDisplay.h"

#include "CodecReport.h"
#include "IntelEntryPoints.h"
#include "RuntimeLibrary.h"
#include <dxgi.h>
#include <wrl/client.h>

#include <fcntl.h>
#include <unistd.h>
#include <va/va_drm.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace kiv::intel {

namespace {

struct VaRuntime {
#define KIV_INTEL_DECLARE_VA(name) decltype(::name)* name = nullptr;
    KIV_INTEL_VA_EXPORTS(KIV_INTEL_DECLARE_VA)
#undef KIV_INTEL_DECLARE_VA
    RuntimeLibrary library;

    bool load() {
        if (library.isOpen())
            return true;
        if (library.open(L"libva-drm.so.2") != Error::None)
            return false;
#define KIV_INTEL_BIND_VA(name) name = reinterpret_cast<decltype(::name)*>(library.symbol(#name));
        KIV_INTEL_VA_EXPORTS(KIV_INTEL_BIND_VA)
#undef KIV_INTEL_BIND_VA
        if (vaGetDisplayDRM != nullptr && vaInitialize != nullptr)
            return true;
        library.close();
        return false;
    }
};

std::mutex s_mutex;
VaRuntime s_va;
std::map<std::string, VADisplay> s_displays; // by render node
void* s_testDisplay = nullptr;

// "/dev/dri/renderD128" for the adapter whose LUID is the device number 226:128; empty for none.
std::string RenderNodeOf(ID3D11Device* device) {
    ComPtr<IDXGIDevice> dxgiDevice;
    ComPtr<IDXGIAdapter> adapter;
    DXGI_ADAPTER_DESC desc{};
    if (device == nullptr || FAILED(device->QueryInterface(IID_PPV_ARGS(&dxgiDevice))) ||
        FAILED(dxgiDevice->GetAdapter(&adapter)) || FAILED(adapter->GetDesc(&desc)) ||
        desc.AdapterLuid.HighPart == 0)
        return {};
    return "/dev/dri/renderD" + std::to_string(desc.AdapterLuid.LowPart);
}

VADisplay Open(const std::string& node) {
    if (!s_va.load()) {
        mfcodec::ReportFailedCondition(E_FAIL, "libva-drm.so.2 loaded", __PRETTY_FUNCTION__, __LINE__);
        return nullptr;
    }
    const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        mfcodec::ReportFailedCondition(E_FAIL, "fd = open( renderNode, O_RDWR ) >= 0", __PRETTY_FUNCTION__,
                                       __LINE__);
        return nullptr;
    }
    VADisplay display = s_va.vaGetDisplayDRM(fd);
    int major = 0;
    int minor = 0;
    if (display == nullptr || s_va.vaInitialize(display, &major, &minor) != VA_STATUS_SUCCESS) {
        mfcodec::ReportFailedCondition(E_FAIL, "VA_STATUS_SUCCESS == vaInitialize( display, &major, &minor )",
                                       __PRETTY_FUNCTION__, __LINE__);
        ::close(fd);
        return nullptr;
    }
    return display; // and its descriptor, for the life of the process
}

} // namespace

void* VaDisplays::ForDevice(ID3D11Device* device) {
    std::lock_guard lock(s_mutex);
    if (s_testDisplay != nullptr)
        return s_testDisplay;
    // A GPU that a test's sysfs tree describes has no node to open; its fake runtime takes a stand-in.
    static int standIn = 0;
    if (const char* testRoot = std::getenv("PYX_TEST_SYSFS_ROOT"); testRoot != nullptr && *testRoot != '\0')
        return &standIn;
    const std::string node = RenderNodeOf(device);
    if (node.empty()) {
        mfcodec::ReportFailedCondition(E_FAIL, "the adapter has a render node", __PRETTY_FUNCTION__,
                                       __LINE__);
        return nullptr;
    }
    const auto known = s_displays.find(node);
    if (known != s_displays.end())
        return known->second;
    VADisplay display = Open(node);
    if (display != nullptr)
        s_displays.emplace(node, display);
    return display;
}

void VaDisplays::useDisplayForTests(void* display) {
    std::lock_guard lock(s_mutex);
    s_testDisplay = display;
}

} // namespace kiv::intel
