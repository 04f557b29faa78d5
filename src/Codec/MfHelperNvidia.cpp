#include "MfHelperNvidia.h"

#include "CodecReport.h"

#include <string>

namespace kiv::nv {

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

} // namespace

Error CudaInterface::fail(Error error) {
    KIV_NV_CUDA_ENTRY_POINTS(KIV_NV_CLEAR_ENTRY)
    m_dll.close();
    return error;
}

Error CudaInterface::load_() {
    if (isLoaded_())
        return Error::None;
    if (m_dll.open(LibraryName) != Error::None) {
        mfcodec::ReportFailedCondition(E_FAIL, "m_dll != nullptr", __PRETTY_FUNCTION__, __LINE__);
        return Error::DllNotFound;
    }
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
    if (m_dll.open(LibraryName) != Error::None) {
        mfcodec::ReportFailedCondition(E_FAIL, "m_dll != nullptr", __PRETTY_FUNCTION__, __LINE__);
        return Error::DllNotFound;
    }
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
