#include "MfHelperIntel.h"

#include "CodecReport.h"
#include "IntelVaDisplay.h"

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <system_error>

namespace kiv::mfcodec {
namespace {

template <typename... Allowed>
bool In(mfxU32 value, Allowed... allowed) {
    return ((value == allowed) || ...);
}

} // namespace
} // namespace kiv::mfcodec

namespace kiv::intel {

namespace {

// What createSession_ returns when the loader refuses a filter property.
constexpr HRESULT PropertyRefused = MakeHResult(0xC00D3E8F);

// The dispatcher found by the folder scan, looked for once per process. Under a test search directory the
// loader refuses this system path, like every other system place.
const std::filesystem::path& ScannedDispatcher() {
    static const std::filesystem::path found = [] {
        const std::vector<std::filesystem::path> folders =
            DispatcherFolders(std::getenv("ONEVPL_SEARCH_PATH"));
        return NewestFile(folders, "libvpl.so.2");
    }();
    return found;
}

} // namespace

std::vector<std::filesystem::path> DispatcherFolders(const char* searchPath) {
    std::vector<std::filesystem::path> folders = {
        "/usr/local/lib", "/usr/local/lib64",      "/usr/lib/x86_64-linux-gnu",       "/usr/lib64",
        "/usr/lib",       "/lib/x86_64-linux-gnu", "/opt/intel/oneapi/vpl/latest/lib"};
    std::istringstream paths(searchPath != nullptr ? searchPath : "");
    for (std::string folder; std::getline(paths, folder, ':');)
        if (!folder.empty())
            folders.emplace_back(folder);
    return folders;
}

std::filesystem::path NewestFile(std::span<const std::filesystem::path> folders, const std::string& name) {
    std::filesystem::path best;
    std::filesystem::file_time_type bestTime = std::filesystem::file_time_type::min();
    for (const std::filesystem::path& folder : folders) {
        const std::filesystem::path candidate = folder / name;
        std::error_code error;
        if (!std::filesystem::is_regular_file(candidate, error))
            continue;
        const auto time = std::filesystem::last_write_time(candidate, error);
        if (!error && (best.empty() || time > bestTime)) {
            best = candidate;
            bestTime = time;
        }
    }
    return best;
}

Error VplInterface::fail(Error error) {
    if (m_loader != nullptr && Unload != nullptr)
        Unload(m_loader);
    m_loader = nullptr;
#define KIV_INTEL_CLEAR_ENTRY(name) name = nullptr;
    KIV_INTEL_VPL_EXPORTS(KIV_INTEL_CLEAR_ENTRY)
#undef KIV_INTEL_CLEAR_ENTRY
    m_dll.close();
    return error;
}

Error VplInterface::load_() {
    const std::filesystem::path& scanned = ScannedDispatcher();
    if (isLoaded_())
        return Error::None;
    if (m_dll.open(LibraryName) != Error::None && !scanned.empty())
        m_dll.open(scanned.wstring().c_str());
    if (!m_dll.isOpen()) {
        mfcodec::ReportFailedCondition(E_FAIL, "m_dll != nullptr", __PRETTY_FUNCTION__, __LINE__);
        return Error::DllNotFound;
    }
#define KIV_INTEL_BIND_ENTRY(name)                                                                           \
    name = reinterpret_cast<decltype(::MFX##name)*>(m_dll.symbol("MFX" #name));                              \
    if (name == nullptr) {                                                                                   \
        mfcodec::ReportFailedCondition(                                                                      \
            E_FAIL, #name " = (decltype(::MFX" #name ")*)::GetProcAddress(m_dll, \"MFX\" \"" #name "\")",    \
            __PRETTY_FUNCTION__, __LINE__);                                                                  \
        return fail(Error::EntryPointNotFound);                                                              \
    }
    KIV_INTEL_VPL_EXPORTS(KIV_INTEL_BIND_ENTRY)
#undef KIV_INTEL_BIND_ENTRY
    m_loader = Load();
    if (m_loader == nullptr) {
        mfcodec::ReportFailedCondition(E_FAIL, "m_loader = Load()", __PRETTY_FUNCTION__, __LINE__);
        return fail(Error::InitFailed);
    }
    return Error::None;
}

bool VplInterface::setProperty_(const char* name, mfxU32 value) {
    if (!isLoaded_()) {
        mfcodec::ReportFailedCondition(E_FAIL, "isLoaded_()", __PRETTY_FUNCTION__, __LINE__);
        return false;
    }
    const mfxConfig config = CreateConfig(m_loader);
    if (config == nullptr)
        return false;
    mfxVariant variant{};
    variant.Version.Version = 0x0101;
    variant.Type = MFX_VARIANT_TYPE_U32;
    variant.Data.U32 = value;
    return SetConfigFilterProperty(config, reinterpret_cast<const mfxU8*>(name), variant) == MFX_ERR_NONE;
}

HRESULT VplInterface::createSession_(mfxSession* outSession, ID3D11Device* device, mfxU32 codecFourCC,
                                     bool encoder, bool decoder) {
    KIV_RETURN_UNLESS(outSession, E_INVALIDARG);
    KIV_RETURN_UNLESS(device, E_INVALIDARG);
    KIV_RETURN_UNLESS(mfcodec::In(codecFourCC, MFX_CODEC_AV1, MFX_CODEC_AVC, MFX_CODEC_HEVC), E_INVALIDARG);

    KIV_RETURN_UNLESS(setProperty_("mfxImplDescription.Impl", MFX_IMPL_TYPE_HARDWARE), PropertyRefused);
    KIV_RETURN_UNLESS(setProperty_("mfxImplDescription.AccelerationMode", MFX_ACCEL_MODE_VIA_VAAPI),
                      PropertyRefused);
    if (encoder)
        KIV_RETURN_UNLESS(
            setProperty_("mfxImplDescription.mfxEncoderDescription.encoder.CodecID", codecFourCC),
            PropertyRefused);
    if (decoder)
        KIV_RETURN_UNLESS(
            setProperty_("mfxImplDescription.mfxDecoderDescription.decoder.CodecID", codecFourCC),
            PropertyRefused);
    const mfxU32 minVersion = encoder ? EncoderApiVersion : DecoderApiVersion;
    KIV_RETURN_UNLESS(setProperty_("mfxImplDescription.ApiVersion.Version", minVersion), PropertyRefused);

    KIV_RETURN_IF_FAILED(ToHresult(CreateSession(m_loader, 0, outSession)));
    void* const display = VaDisplays::ForDevice(device);
    KIV_RETURN_UNLESS(display, MF_E_NOT_INITIALIZED);
    KIV_RETURN_IF_FAILED(ToHresult(VideoCORE_SetHandle(*outSession, MFX_HANDLE_VA_DISPLAY, display)));
    return S_OK;
}

mfxU32 VplInterface::implementationApiVersion_() {
    if (!isLoaded_())
        return 0;
    const mfxLoader loader = Load();
    if (loader == nullptr)
        return 0;
    mfxVariant hardware{};
    hardware.Version.Version = 0x0101;
    hardware.Type = MFX_VARIANT_TYPE_U32;
    hardware.Data.U32 = MFX_IMPL_TYPE_HARDWARE;
    const mfxConfig config = CreateConfig(loader);
    mfxHDL description = nullptr;
    mfxU32 version = 0;
    if (config != nullptr &&
        SetConfigFilterProperty(config, reinterpret_cast<const mfxU8*>("mfxImplDescription.Impl"),
                                hardware) == MFX_ERR_NONE &&
        EnumImplementations(loader, 0, MFX_IMPLCAPS_IMPLDESCSTRUCTURE, &description) == MFX_ERR_NONE &&
        description != nullptr) {
        const mfxVersion api = static_cast<const mfxImplDescription*>(description)->ApiVersion;
        version = (mfxU32(api.Major) << 16) | api.Minor;
        DispReleaseImplDescription(loader, description);
    }
    Unload(loader);
    return version;
}

mfxStatus VplInterface::syncOperation_(mfxSession session, mfxSyncPoint syncPoint) {
    mfxStatus status = MFX_WRN_IN_EXECUTION;
    while (status == MFX_WRN_IN_EXECUTION)
        status = VideoCORE_SyncOperation(session, syncPoint, 1);
    return status;
}

void CopyRows(mfxU8* dst, std::size_t dstPitch, const mfxU8* src, std::size_t srcPitch, std::size_t rowBytes,
              std::size_t rows) {
    for (std::size_t row = 0; row < rows; ++row)
        std::memcpy(dst + row * dstPitch, src + row * srcPitch, rowBytes);
}

HRESULT ToHresult(mfxStatus status) {
    const int s = status;
    if (s == MFX_ERR_NONE)
        return S_OK;
    if ((s <= -1 && s >= -18) || (s <= -21 && s >= -24))
        return static_cast<HRESULT>(0xA55D3000u + static_cast<std::uint32_t>(-s));
    if ((s >= 1 && s <= 10) || s == 12 || s == 13)
        return static_cast<HRESULT>(0x255D3400u + static_cast<std::uint32_t>(s));
    return static_cast<HRESULT>((static_cast<std::uint32_t>(s) & 0x7FFu) | 0xA55D3800u);
}

} // namespace kiv::intel
