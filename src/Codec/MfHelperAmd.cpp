#include "MfHelperAmd.h"

#include "CodecReport.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>

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

amf::AMFVariantStruct Int64Variant(std::int64_t value) {
    amf::AMFVariantStruct variant{};
    variant.type = amf::AMF_VARIANT_INT64;
    variant.int64Value = value;
    return variant;
}

amf::AMFVariantStruct BoolVariant(bool value) {
    amf::AMFVariantStruct variant{};
    variant.type = amf::AMF_VARIANT_BOOL;
    variant.boolValue = value;
    return variant;
}

amf::AMFVariantStruct RateVariant(std::uint32_t num, std::uint32_t den) {
    amf::AMFVariantStruct variant{};
    variant.type = amf::AMF_VARIANT_RATE;
    variant.rateValue = {num, den};
    return variant;
}

amf::AMFVariantStruct SizeVariant(std::int32_t width, std::int32_t height) {
    amf::AMFVariantStruct variant{};
    variant.type = amf::AMF_VARIANT_SIZE;
    variant.sizeValue = {width, height};
    return variant;
}

namespace {

std::wstring Joined(std::initializer_list<double> parts) {
    std::wstring text;
    for (const double part : parts) {
        wchar_t number[32];
        std::swprintf(number, 32, L"%g", part);
        text += (text.empty() ? L"" : L",") + std::wstring(number);
    }
    return text;
}

} // namespace

bool VariantToWString(const amf::AMFVariantStruct& v, std::wstring& text) {
    const amf::AMFFloatVector4D& f = v.floatVector4DValue;
    switch (v.type) {
    case amf::AMF_VARIANT_BOOL:
        text = v.boolValue ? L"true" : L"false";
        return true;
    case amf::AMF_VARIANT_INT64:
        text = std::to_wstring(v.int64Value);
        return true;
    case amf::AMF_VARIANT_DOUBLE:
        text = Joined({v.doubleValue});
        return true;
    case amf::AMF_VARIANT_FLOAT:
        text = Joined({v.floatValue});
        return true;
    case amf::AMF_VARIANT_RECT:
        text = Joined({double(v.rectValue.left), double(v.rectValue.top), double(v.rectValue.right),
                       double(v.rectValue.bottom)});
        return true;
    case amf::AMF_VARIANT_SIZE:
        text = Joined({double(v.sizeValue.width), double(v.sizeValue.height)});
        return true;
    case amf::AMF_VARIANT_POINT:
        text = Joined({double(v.pointValue.x), double(v.pointValue.y)});
        return true;
    case amf::AMF_VARIANT_RATE:
    case amf::AMF_VARIANT_RATIO:
        text = Joined({double(v.rateValue.num), double(v.rateValue.den)});
        return true;
    case amf::AMF_VARIANT_COLOR:
        text = Joined({double(v.colorValue.rgba & 0xFF), double((v.colorValue.rgba >> 8) & 0xFF),
                       double((v.colorValue.rgba >> 16) & 0xFF), double(v.colorValue.rgba >> 24)});
        return true;
    case amf::AMF_VARIANT_FLOAT_SIZE:
    case amf::AMF_VARIANT_FLOAT_POINT2D:
        text = Joined({f.x, f.y});
        return true;
    case amf::AMF_VARIANT_FLOAT_POINT3D:
        text = Joined({f.x, f.y, f.z});
        return true;
    case amf::AMF_VARIANT_FLOAT_VECTOR4D:
        text = Joined({f.x, f.y, f.z, f.w});
        return true;
    case amf::AMF_VARIANT_STRING:
        if (v.stringValue == nullptr)
            return false;
        text.assign(v.stringValue, v.stringValue + std::strlen(v.stringValue));
        return true;
    case amf::AMF_VARIANT_WSTRING:
        if (v.wstringValue == nullptr)
            return false;
        text = v.wstringValue;
        return true;
    default:
        return false;
    }
}

AMF_RESULT GetPropertyInt64(const amf::AMFPropertyStorage* storage, const wchar_t* name,
                            std::int64_t* value) {
    amf::AMFVariantStruct variant{};
    if (const AMF_RESULT result = storage->GetProperty(name, &variant); result != AMF_OK)
        return result;
    switch (variant.type) {
    case amf::AMF_VARIANT_INT64:
        *value = variant.int64Value;
        return AMF_OK;
    case amf::AMF_VARIANT_EMPTY:
        *value = 0;
        return AMF_OK;
    case amf::AMF_VARIANT_BOOL:
        *value = variant.boolValue ? 1 : 0;
        return AMF_OK;
    case amf::AMF_VARIANT_DOUBLE:
        *value = static_cast<std::int64_t>(variant.doubleValue);
        return AMF_OK;
    case amf::AMF_VARIANT_FLOAT:
        *value = static_cast<std::int64_t>(variant.floatValue);
        return AMF_OK;
    default: {
        std::wstring text;
        wchar_t* end = nullptr;
        if (VariantToWString(variant, text)) {
            *value = std::wcstoll(text.c_str(), &end, 10);
            if (!text.empty() && *end == L'\0')
                return AMF_OK;
        }
        return AMF_INVALID_DATA_TYPE;
    }
    }
}

namespace {

std::wstring ValueText(const amf::AMFVariantStruct& value) {
    std::wstring text;
    return VariantToWString(value, text) ? text : L"<nullptr>";
}

const wchar_t* TypeName(int type) {
    static const wchar_t* const Names[] = {L"Empty", L"Bool",  L"Int64", L"Double", L"Rect", L"Size",
                                           L"Point", L"Rate",  L"Ratio", L"Color",  L"Str",  L"WStr",
                                           L"Iface", L"Float", L"FSize", L"F2d",    L"F3d",  L"F4d"};
    return type >= 0 && type < 18 ? Names[type] : L"Unknown";
}

const wchar_t* ContentName(std::uint32_t content) {
    static const wchar_t* const Names[] = {L"Normal", L"XML", L"oPath", L"sPath", L"iArray", L"fArray"};
    return content < 6 ? Names[content] : L"Unknown";
}

std::wstring Line(const wchar_t* format, ...) {
    wchar_t text[512];
    va_list args;
    va_start(args, format);
    std::vswprintf(text, 512, format, args);
    va_end(args);
    return text;
}

} // namespace

std::wstring AccessFlagsText(std::uint32_t flags) {
    std::wstring text = L"------";
    if (flags & amf::AMF_PROPERTY_ACCESS_INVALID)
        text[0] = L'i';
    if (flags & amf::AMF_PROPERTY_ACCESS_NON_PERSISTANT)
        text[1] = L'n';
    if ((flags & amf::AMF_PROPERTY_ACCESS_FULL) == amf::AMF_PROPERTY_ACCESS_FULL)
        text[2] = L'f';
    if (flags & amf::AMF_PROPERTY_ACCESS_WRITE_RUNTIME)
        text[3] = L't';
    if (flags & amf::AMF_PROPERTY_ACCESS_READ)
        text[4] = L'R';
    if (flags & amf::AMF_PROPERTY_ACCESS_WRITE)
        text[5] = L'W';
    return text;
}

std::wstring PropertyListing(const amf::AMFPropertyStorage* storage, const wchar_t* title) {
    const std::size_t count = storage->GetPropertyCount();
    std::wstring listing = Line(L"%ls (count=%zu)\n", title, count);
    for (std::size_t i = 0; i < count; ++i) {
        wchar_t name[200] = {};
        amf::AMFVariantStruct value{};
        if (storage->GetPropertyAt(i, name, 200, &value) == AMF_OK)
            listing += Line(L"  %3zu. %30ls = %ls\n", i, name, ValueText(value).c_str());
    }
    return listing;
}

std::wstring PropertyInfoListing(const amf::AMFPropertyStorageEx* component, const wchar_t* title) {
    const std::size_t count = component->GetPropertiesInfoCount();
    std::wstring listing = Line(L"%ls (count=%zu)\n", title, count);
    for (std::size_t i = 0; i < count; ++i) {
        const amf::AMFPropertyInfo* info = nullptr;
        if (component->GetPropertyInfo(i, &info) != AMF_OK || info == nullptr)
            continue;
        listing +=
            Line(L"  %3zu. %ls: type=%ls/%ls, access=%ls, %ls\n", i, info->name ? info->name : L"<nullptr>",
                 TypeName(info->type), ContentName(info->contentType),
                 AccessFlagsText(info->accessType).c_str(), info->desc ? info->desc : L"<nullptr>");
        listing += L"       default=" + ValueText(info->defaultValue) + L", min=" +
                   ValueText(info->minValue) + L", max=" + ValueText(info->maxValue);
        if (info->pEnumDescription != nullptr && info->pEnumDescription->name != nullptr) {
            listing += L", enum values: ";
            for (const amf::AMFEnumDescriptionEntry* e = info->pEnumDescription; e->name != nullptr; ++e)
                listing += (e == info->pEnumDescription ? L"" : L", ") + std::wstring(e->name) + L"=" +
                           std::to_wstring(e->value);
        }
        listing += L"\n";
    }
    return listing;
}

} // namespace kiv::amd
