#pragma once
// The binding of AMD's AMF runtime: load_() finds the runtime, checks its version and initialises it for the
// SDK version the transforms are written against, keeping the factory they create their components from.
// And the conversion of AMF results into HRESULTs.

#include "AmdEntryPoints.h"
#include "RuntimeLibrary.h"
#include <minwindef.h>

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
    AMFFactory* factory() const { return m_factory; }
    // The runtime's version: major, minor, release, build.
    std::uint16_t version_[4] = {};

private:
    Error fail(Error error);

#define KIV_AMD_DECLARE_ENTRY(member, exportName, type) type* member = nullptr;
    KIV_AMD_AMF_EXPORTS(KIV_AMD_DECLARE_ENTRY)
#undef KIV_AMD_DECLARE_ENTRY

    RuntimeLibrary m_dll;
    AMFFactory* m_factory = nullptr;
};

// AMF results as HRESULTs of facility 0x55D: the end-of-stream, repeat, input-full, resolution and
// need-more-input results are success codes, the others failures.
HRESULT ToHresult(AMF_RESULT result);

} // namespace kiv::amd
