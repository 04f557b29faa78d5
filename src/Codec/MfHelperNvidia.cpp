#include "MfHelperNvidia.h"

#include "CodecReport.h"

#include <string>

namespace kiv::nv {

EncoderInterface NvEnc;
CudaInterface Cuda;
DecoderInterface NvDec;

namespace {

// Resolves every entry of a table into the binding's members; the first missing one is reported and ends
// the binding.
#define KIV_NV_BIND_ENTRY(member, exportName, type)                                                          \
    member = reinterpret_cast<type*>(m_dll.symbol(#exportName));                                             \
    if (member == nullptr) {                                                                                 \
        mfcodec::ReportFailedCondition(E_FAIL, #exportName " != nullptr", __PRETTY_FUNCTION__, __LINE__);    \
        return fail(Error::EntryPointNotFound);                                                              \
    }

#define KIV_NV_CLEAR_ENTRY(member, exportName, type) member = nullptr;

// Loads the runtime; a library that cannot be loaded is reported as the load_ at `function` failing.
bool Opened(RuntimeLibrary& dll, const wchar_t* name, const char* function, int line) {
    if (dll.open(name) == Error::None)
        return true;
    mfcodec::ReportFailedCondition(E_FAIL, "m_dll != nullptr", function, line);
    return false;
}

} // namespace

#define KIV_NV_CLEAR_FUNCTION(member, listField) member = nullptr;

Error EncoderInterface::fail(Error error) {
    KIV_NV_NVENC_EXPORTS(KIV_NV_CLEAR_ENTRY)
    KIV_NV_NVENC_FUNCTIONS(KIV_NV_CLEAR_FUNCTION)
    m_dll.close();
    return error;
}

Error EncoderInterface::load_() {
    if (isLoaded_())
        return Error::None;
    if (!Opened(m_dll, LibraryName, __PRETTY_FUNCTION__, __LINE__))
        return Error::DllNotFound;
    KIV_NV_NVENC_EXPORTS(KIV_NV_BIND_ENTRY)
    std::uint32_t version = 0;
    if (const NVENCSTATUS status = GetMaxSupportedVersion(&version); status != NV_ENC_SUCCESS) {
        mfcodec::ReportFailedCall(NvencToHresult(status), "GetMaxSupportedVersion( &version )",
                                  __PRETTY_FUNCTION__, __LINE__);
        return fail(Error::InitFailed);
    }
    majorVersion_ = static_cast<int>(version >> 4);
    minorVersion_ = static_cast<int>(version & 0xF);
    if (version < RequiredVersion) {
        mfcodec::ReportFailedCondition(E_FAIL, "version >= RequiredVersion", __PRETTY_FUNCTION__, __LINE__);
        return fail(Error::VersionTooOld);
    }
    NV_ENCODE_API_FUNCTION_LIST functions{};
    functions.version = NV_ENCODE_API_FUNCTION_LIST_VER;
    if (const NVENCSTATUS status = CreateInstance(&functions); status != NV_ENC_SUCCESS) {
        mfcodec::ReportFailedCall(NvencToHresult(status), "CreateInstance( &functions )", __PRETTY_FUNCTION__,
                                  __LINE__);
        return fail(Error::InitFailed);
    }
    // A runtime that leaves a function out cannot serve the transforms: it is refused like a missing export.
#define KIV_NV_TAKE_FUNCTION(member, listField)                                                              \
    member = functions.listField;                                                                            \
    if (member == nullptr) {                                                                                 \
        mfcodec::ReportFailedCondition(E_FAIL, "this->" #member, __PRETTY_FUNCTION__, __LINE__);             \
        return fail(Error::EntryPointNotFound);                                                              \
    }
    KIV_NV_NVENC_FUNCTIONS(KIV_NV_TAKE_FUNCTION)
#undef KIV_NV_TAKE_FUNCTION
    return Error::None;
}

Error CudaInterface::fail(Error error) {
    KIV_NV_CUDA_ENTRY_POINTS(KIV_NV_CLEAR_ENTRY)
    m_dll.close();
    return error;
}

Error CudaInterface::load_() {
    if (isLoaded_())
        return Error::None;
    if (!Opened(m_dll, LibraryName, __PRETTY_FUNCTION__, __LINE__))
        return Error::DllNotFound;
    KIV_NV_CUDA_ENTRY_POINTS(KIV_NV_BIND_ENTRY)
    int version = 0;
    if (Init(0) != CUDA_SUCCESS || DriverGetVersion(&version) != CUDA_SUCCESS) {
        mfcodec::ReportFailedCondition(
            E_FAIL, "CUDA_SUCCESS == Init( 0 ) && CUDA_SUCCESS == DriverGetVersion( &version )",
            __PRETTY_FUNCTION__, __LINE__);
        return fail(Error::InitFailed);
    }
    majorVersion_ = version / 1000;
    minorVersion_ = (version % 1000) / 10;
    return Error::None;
}

Error DecoderInterface::fail(Error error) {
    KIV_NV_NVDEC_ENTRY_POINTS(KIV_NV_CLEAR_ENTRY)
    m_dll.close();
    return error;
}

Error DecoderInterface::load_() {
    if (isLoaded_())
        return Error::None;
    if (!Opened(m_dll, LibraryName, __PRETTY_FUNCTION__, __LINE__))
        return Error::DllNotFound;
    KIV_NV_NVDEC_ENTRY_POINTS(KIV_NV_BIND_ENTRY)
    return Error::None;
}

HRESULT NvencToHresult(int status) {
    if (status == 0)
        return S_OK;
    const auto code = static_cast<std::uint32_t>(status);
    return static_cast<HRESULT>(code <= 25 ? 0xA55D2000u + code : 0xA55D2800u | (code & 0x7FF));
}

HRESULT CudaToHresult(CUresult result) {
    if (result == CUDA_SUCCESS)
        return S_OK;
    return static_cast<HRESULT>(0xA55D5800u | (static_cast<std::uint32_t>(result) & 0x7FF));
}

} // namespace kiv::nv
