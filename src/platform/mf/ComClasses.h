#pragma once
// Creating objects by class id: CoCreateInstance over the platform's classes (its transforms and whatever
// other platform code registers), with the Windows class ids, contexts and result codes.

#include "platform/win/Unknown.h"

#include <functional>

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);

DEFINE_GUID(CLSID_VideoProcessorMFT, 0x88753b26, 0x5b24, 0x49bd, 0xb2, 0xe7, 0x0c, 0x44, 0x5c, 0x78, 0xc9,
            0x82);
DEFINE_GUID(CLSID_CResamplerMediaObject, 0xf447b69e, 0x1884, 0x4a7e, 0x80, 0x55, 0x34, 0x6f, 0x74, 0xd6, 0xed,
            0xb3);
inline constexpr const CLSID& CLSID_AudioResamplerMediaObject = CLSID_CResamplerMediaObject;

// Creates an in-process object of the class and hands out the interface riid. REGDB_E_CLASSNOTREG for an
// unknown class or a context without CLSCTX_INPROC_SERVER, CLASS_E_NOAGGREGATION with an outer object.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

// Any interface pointer's address may be passed, as the Windows smart-pointer address operator allows.
template <class T>
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, T** ppv) {
    static_assert(std::is_base_of_v<IUnknown, T>, "CoCreateInstance hands out interface pointers");
    return CoCreateInstance(rclsid, pUnkOuter, dwClsContext, riid, reinterpret_cast<LPVOID*>(ppv));
}

// Makes a class creatable that is not a transform (for example a device enumerator). The factory hands out
// the interface riid or fails with the out-pointer cleared. A later registration of the same class replaces
// the earlier one.
using ClassFactoryFunction = std::function<HRESULT(REFIID riid, void** ppv)>;
void RegisterPlatformClass(REFCLSID clsid, ClassFactoryFunction factory);
