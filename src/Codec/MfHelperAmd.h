#pragma once
// The binding of AMD's AMF runtime: load_() finds the runtime, checks its version and initialises it for the
// SDK version the transforms are written against, keeping the factory they create their components from.
// And what the transforms share about AMF values: results as HRESULTs, variants, property listings.

#include "AmdEntryPoints.h"
#include "RuntimeLibrary.h"
#include <minwindef.h>

#include <string>

namespace kiv::amd {

using Error = kiv::Error;

class AmfInterface {
public:
    static constexpr const wchar_t* LibraryName = L"libamfrt64.so.1";
    // 1.4.32.0, the SDK version the transforms are written against.
    static constexpr std::uint64_t FullVersion = 0x0001000400200000ULL;

    // Idempotent once a factory is held; never throws. Logs at most one line.
    Error load_();
    bool isLoaded_() const { return m_factory != nullptr; }
    amf::AMFFactory* factory() const { return m_factory; }
    // The runtime's version: major, minor, release, build.
    std::uint16_t version_[4] = {};

private:
    Error fail(Error error);

#define KIV_AMD_DECLARE_ENTRY(member, exportName, type) type* member = nullptr;
    KIV_AMD_AMF_EXPORTS(KIV_AMD_DECLARE_ENTRY)
#undef KIV_AMD_DECLARE_ENTRY

    RuntimeLibrary m_dll;
    amf::AMFFactory* m_factory = nullptr;
};

// AMF results as HRESULTs of facility 0x55D: the end-of-stream, repeat, input-full, resolution and
// need-more-input results are success codes, the others failures.
HRESULT ToHresult(AMF_RESULT result);

// Variants of the kinds the transforms set.
amf::AMFVariantStruct Int64Variant(std::int64_t value);
amf::AMFVariantStruct BoolVariant(bool value);
amf::AMFVariantStruct RateVariant(std::uint32_t num, std::uint32_t den);
amf::AMFVariantStruct SizeVariant(std::int32_t width, std::int32_t height);

// A variant as text; false when it has none (empty, an interface).
bool VariantToWString(const amf::AMFVariantStruct& value, std::wstring& text);

// A property read as an integer: Int64 as it is, empty as 0, other kinds converted; AMF_INVALID_DATA_TYPE
// for a kind that has no integer value.
AMF_RESULT GetPropertyInt64(const amf::AMFPropertyStorage* storage, const wchar_t* name, std::int64_t* value);

// Debugging listings: every property with its value, and every property description of a component.
std::wstring PropertyListing(const amf::AMFPropertyStorage* storage, const wchar_t* title = L"Properties");
std::wstring PropertyInfoListing(const amf::AMFPropertyStorageEx* component,
                                 const wchar_t* title = L"Property Info");
// The six access characters of a description's access flags ("----RW" for read and write).
std::wstring AccessFlagsText(std::uint32_t flags);

} // namespace kiv::amd

// Returns the failed HRESULT of an AMF call after reporting it.
#define KIV_RETURN_IF_AMF_FAILED(call) KIV_RETURN_IF_FAILED(::kiv::amd::ToHresult(call))
