#pragma once
// Creating objects by class id: CoCreateInstance over the classes the platform registers (its transforms,
// the audio device enumerator), with the Windows contexts and result codes.

#include <unknwn.h>

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);

// Creates an in-process object of the class and hands out the interface riid. REGDB_E_CLASSNOTREG for an
// unknown class or a context without CLSCTX_INPROC_SERVER, CLASS_E_NOAGGREGATION with an outer object.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

// Any interface pointer's address may be passed, as the Windows smart-pointer address operator allows.
template <class T>
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, T** ppv) {
    static_assert(std::is_base_of_v<IUnknown, T>, "CoCreateInstance hands out interface pointers");
    return CoCreateInstance(rclsid, pUnkOuter, dwClsContext, riid, reinterpret_cast<LPVOID*>(ppv));
}
