#include "ClassRegistry.h"

#include <combaseapi.h>
#include <wrl/implements.h>

#include <map>
#include <mutex>

namespace {

std::mutex g_classesMutex;

std::map<CLSID, ClassFactoryFunction>& RegisteredClasses() {
    static std::map<CLSID, ClassFactoryFunction> classes;
    return classes;
}

ClassLookupFunction& ClassLookup() {
    static ClassLookupFunction lookup;
    return lookup;
}

} // namespace

void RegisterPlatformClass(REFCLSID clsid, ClassFactoryFunction factory) {
    std::lock_guard lock(g_classesMutex);
    RegisteredClasses()[clsid] = std::move(factory);
}

void SetPlatformClassLookup(ClassLookupFunction lookup) {
    std::lock_guard lock(g_classesMutex);
    ClassLookup() = std::move(lookup);
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
        ClassLookupFunction lookup;
        {
            std::lock_guard lock(g_classesMutex);
            const auto found = RegisteredClasses().find(rclsid);
            if (found != RegisteredClasses().end())
                factory = found->second;
            lookup = ClassLookup();
        }
        if (factory)
            return factory(riid, ppv);
        return lookup ? lookup(rclsid, riid, ppv) : REGDB_E_CLASSNOTREG;
    });
}
