#include "MfHelperAmd.h"

#include "CodecReport.h"

namespace kiv::amd {

Error AmfInterface::fail(Error error) {
#define KIV_AMD_CLEAR_ENTRY(member, exportName, type) member = nullptr;
    KIV_AMD_AMF_EXPORTS(KIV_AMD_CLEAR_ENTRY)
#undef KIV_AMD_CLEAR_ENTRY
    for (std::uint16_t& part : version_)
        part = 0;
    m_factory = nullptr;
    m_dll.close();
    return error;
}

Error AmfInterface::load_() {
    if (m_factory != nullptr)
        return Error::None;
    if (m_dll.open(LibraryName) != Error::None) {
        mfcodec::ReportFailedCondition(E_FAIL, "m_dll != nullptr", __PRETTY_FUNCTION__, __LINE__);
        return Error::DllNotFound;
    }
#define KIV_AMD_BIND_ENTRY(member, exportName, type)                                                         \
    member = reinterpret_cast<type*>(m_dll.symbol(#exportName));                                             \
    if (member == nullptr) {                                                                                 \
        mfcodec::ReportFailedCondition(E_FAIL, #exportName " != nullptr", __PRETTY_FUNCTION__, __LINE__);    \
        return fail(Error::EntryPointNotFound);                                                              \
    }
    KIV_AMD_AMF_EXPORTS(KIV_AMD_BIND_ENTRY)
#undef KIV_AMD_BIND_ENTRY
    std::uint64_t version = 0;
    if (QueryVersion(&version) != AMF_OK) {
        mfcodec::ReportFailedCondition(E_FAIL, "AMF_OK == fnQueryVersion( &version )", __PRETTY_FUNCTION__,
                                       __LINE__);
        return fail(Error::InitFailed);
    }
    for (int part = 0; part < 4; ++part)
        version_[part] = static_cast<std::uint16_t>(version >> (48 - 16 * part));
    if (Init(FullVersion, &m_factory) != AMF_OK) {
        mfcodec::ReportFailedCondition(E_FAIL, "AMF_OK == fnInit( AMF_FULL_VERSION, &m_factory )",
                                       __PRETTY_FUNCTION__, __LINE__);
        return fail(Error::InitFailed);
    }
    if (m_factory == nullptr) {
        mfcodec::ReportFailedCondition(E_FAIL, "m_factory != nullptr", __PRETTY_FUNCTION__, __LINE__);
        return fail(Error::Unexpected);
    }
    return Error::None;
}

HRESULT ToHresult(AMF_RESULT result) {
    if (result == AMF_OK)
        return S_OK;
    const auto code = static_cast<std::uint32_t>(result);
    if (code >= 46)
        return static_cast<HRESULT>((code & 0x7FF) | 0xA55D4800u);
    const bool success = (code >= 23 && code <= 27) || code == 44;
    return static_cast<HRESULT>((success ? 0x255D4000u : 0xA55D4000u) + code);
}

} // namespace kiv::amd
