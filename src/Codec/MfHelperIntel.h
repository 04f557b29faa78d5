#pragma once
// The binding of Intel's oneVPL dispatcher (Debian's libvpl.so.2): load_() finds it, resolves every export of
// its table and creates the loader that sessions come from; createSession_ makes a hardware session for one
// codec that works on the VA-API display of the caller's device. The dispatcher itself finds the vendor's
// implementation. And the conversion of oneVPL status codes into HRESULTs.

#include "IntelEntryPoints.h"
#include "RuntimeLibrary.h"
#include <d3d11.h>
#include <mferror.h>
#include <minwindef.h>

#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace kiv::intel {

using Error = kiv::Error;

class VplInterface {
public:
#define KIV_INTEL_DECLARE_ENTRY(name) decltype(::MFX##name)* name = nullptr;
    KIV_INTEL_VPL_EXPORTS(KIV_INTEL_DECLARE_ENTRY)
#undef KIV_INTEL_DECLARE_ENTRY

    static constexpr const wchar_t* LibraryName = L"libvpl.so.2";
    // The lowest API versions the sessions ask of an implementation: 2.10 to encode, 2.4 to decode.
    static constexpr mfxU32 EncoderApiVersion = 0x0002000A;
    static constexpr mfxU32 DecoderApiVersion = 0x00020004;

    // Idempotent once loaded; never throws. Logs at most one line.
    Error load_();
    bool isLoaded_() const { return m_dll.isOpen() && m_loader != nullptr; }

    // A hardware session for codecFourCC (AVC, HEVC or AV1) on the device's render node. On a failure after
    // the session was made, it is left in *outSession for the caller to close.
    HRESULT createSession_(mfxSession* outSession, ID3D11Device* device, mfxU32 codecFourCC, bool encoder,
                           bool decoder);
    // Adds one filter property (a 32-bit value) to the loader's configuration.
    bool setProperty_(const char* name, mfxU32 value);

    // The API version ((major << 16) | minor) of the hardware implementation the dispatcher would take, asked
    // on a loader of its own; 0 when there is none.
    mfxU32 implementationApiVersion_();

    // Waits in steps of at most 1 ms while the operation of `syncPoint` is in execution; its last status.
    mfxStatus syncOperation_(mfxSession session, mfxSyncPoint syncPoint);

private:
    Error fail(Error error);

    RuntimeLibrary m_dll;
    mfxLoader m_loader = nullptr;
};

// Status codes as HRESULTs of facility 0x55D: errors are failures, warnings success codes.
HRESULT ToHresult(mfxStatus status);

// Bytes between a surface's rows.
inline std::size_t SurfacePitch(const mfxFrameData& data) {
    return (std::size_t(data.PitchHigh) << 16) | data.PitchLow;
}
// Copies `rows` rows of `rowBytes` bytes between two pitched pictures.
void CopyRows(mfxU8* dst, std::size_t dstPitch, const mfxU8* src, std::size_t srcPitch, std::size_t rowBytes,
              std::size_t rows);

// Where load_() looks for the dispatcher when the system's search does not find it: the usual library
// folders, then those of `searchPath` (ONEVPL_SEARCH_PATH, separated by colons; may be null).
std::vector<std::filesystem::path> DispatcherFolders(const char* searchPath);
// The most recently written file `name` in the folders; among equal times the first found. Empty when none.
std::filesystem::path NewestFile(std::span<const std::filesystem::path> folders, const std::string& name);

} // namespace kiv::intel
