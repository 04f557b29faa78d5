#pragma once
// The classes CoCreateInstance creates: factories registered by class id, and a lookup for classes found
// on demand (the transform list, whose hardware entries are probed on first use).

#include <unknwn.h>

#include <functional>

// Makes a class creatable. The factory hands out the interface riid or fails with the out-pointer cleared.
// A later registration of the same class replaces the earlier one.
using ClassFactoryFunction = std::function<HRESULT(REFIID riid, void** ppv)>;
void RegisterPlatformClass(REFCLSID clsid, ClassFactoryFunction factory);

// Asked for classes without a registered factory; answers REGDB_E_CLASSNOTREG for a class it does not know.
using ClassLookupFunction = std::function<HRESULT(REFCLSID clsid, REFIID riid, void** ppv)>;
void SetPlatformClassLookup(ClassLookupFunction lookup);
