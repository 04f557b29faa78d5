#include "ComClasses.h"

#include "NoThrow.h"
#include "TransformRegistry.h"

#include <map>
#include <mutex>

namespace {

std::mutex g_classesMutex;

std::map<CLSID, ClassFactoryFunction>& RegisteredClasses() {
    static std::map<CLSID, ClassFactoryFunction> classes;
    return classes;
}

} // namespace

void RegisterPlatformClass(REFCLSID clsid, ClassFactoryFunction factory) {
    std::lock_guard lock(g_classesMutex);
    RegisteredClasses()[clsid] = std::move(factory);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr)
        return CLASS_E_NOAGGREGATION;
    // Every platform class lives in the process.
    if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0)
        return REGDB_E_CLASSNOTREG;
    return NoThrow([&] {
        ClassFactoryFunction factory;
        {
            std::lock_guard lock(g_classesMutex);
            const auto found = RegisteredClasses().find(rclsid);
            if (found != RegisteredClasses().end())
                factory = found->second;
        }
        if (factory)
            return factory(riid, ppv);
        ComPtr<IMFTransform> transform;
        const HRESULT hr = TransformRegistry::Platform().Create(rclsid, &transform);
        return SUCCEEDED(hr) ? transform->QueryInterface(riid, ppv) : hr;
    });
}
