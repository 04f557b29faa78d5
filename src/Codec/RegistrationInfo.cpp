#include "RegistrationInfo.h"

#include "CodecReport.h"
#include <mfapi.h>

#include <cwchar>

namespace kiv::mfcodec {

namespace {

bool TypesSane(std::uint32_t count, const MFT_REGISTER_TYPE_INFO* types) {
    if (count < 1 || count > RegistrationInfo::MaxTypes)
        return false;
    if (types[0].guidMajorType == GUID_NULL || types[0].guidSubtype == GUID_NULL)
        return false;
    return count == RegistrationInfo::MaxTypes ||
           (types[count].guidMajorType == GUID_NULL && types[count].guidSubtype == GUID_NULL);
}

} // namespace

bool RegistrationInfo::isSane() const {
    return friendlyName[0] != L'\0' && clsid != GUID_NULL && category != GUID_NULL &&
           TypesSane(inputCount, inputTypes) && TypesSane(outputCount, outputTypes) && create != nullptr;
}

HRESULT RegistrationInfo::copyTo(IMFAttributes* attribs) const {
    KIV_RETURN_UNLESS(attribs, E_POINTER);
    wchar_t vendor[16];
    std::swprintf(vendor, std::size(vendor), L"VEN_%04X", static_cast<unsigned>(reportVendorId));
    KIV_RETURN_IF_FAILED(attribs->SetUINT32(MF_TRANSFORM_ASYNC, TRUE));
    KIV_RETURN_IF_FAILED(attribs->SetUINT32(MFT_SUPPORT_DYNAMIC_FORMAT_CHANGE, TRUE));
    KIV_RETURN_IF_FAILED(
        attribs->SetString(MFT_ENUM_HARDWARE_URL_Attribute, L"Supposedly-a-Symbolic-Link-to-HW-Device"));
    KIV_RETURN_IF_FAILED(attribs->SetString(MFT_FRIENDLY_NAME_Attribute, friendlyName));
    KIV_RETURN_IF_FAILED(attribs->SetString(MFT_ENUM_HARDWARE_VENDOR_ID_Attribute, vendor));
    KIV_RETURN_IF_FAILED(attribs->SetUINT32(MFT_CODEC_MERIT_Attribute, 42));
    KIV_RETURN_IF_FAILED(attribs->SetUINT32(MF_SA_D3D11_AWARE, 1));
    return S_OK;
}

HRESULT RegistrationInfo::makeCopy(IMFAttributes** attribs, UINT32 extraRoom) const {
    KIV_RETURN_UNLESS(attribs, E_POINTER);
    KIV_RETURN_IF_FAILED(MFCreateAttributes(attribs, 7 + extraRoom));
    const HRESULT hr = copyTo(*attribs);
    if (FAILED(hr)) {
        // No half-filled store reaches the caller.
        (*attribs)->Release();
        *attribs = nullptr;
    }
    KIV_RETURN_IF_FAILED(hr);
    return S_OK;
}

} // namespace kiv::mfcodec
