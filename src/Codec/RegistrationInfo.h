#pragma once
// The static description of one codec transform: what it is called, which GPUs and drivers it is for, the
// types it takes and makes, and how to create it. The transform copies it into its attribute store.

#include "EncoderQuery.h"
#include <mfobjects.h>
#include <mftransform.h>
#include <wrl/client.h>

#include <cstdint>

namespace kiv::mfcodec {

class Base;

// a.b.c.d packed as a<<48 | b<<32 | c<<16 | d.
constexpr std::uint64_t PackVersion(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
    return std::uint64_t{a} << 48 | std::uint64_t{b} << 32 | std::uint64_t{c} << 16 | std::uint64_t{d};
}

struct RegistrationInfo {
    static constexpr std::uint32_t MaxTypes = 8;
    static constexpr std::size_t MaxNameLength = 64;
    // Allocates and constructs the transform (reference count 0); throws kiv::mfcodec::Exception when it
    // cannot be made.
    using CreateFunction = void (*)(ComPtr<Base>& object, const EncoderQuery& query);

    wchar_t friendlyName[MaxNameLength + 1];
    std::uint8_t disabled;
    std::uint8_t isHardware;
    std::uint16_t reportVendorId;
    std::uint16_t vendorId;
    std::uint64_t minDriverVersion;
    GUID clsid;
    GUID category;
    std::uint32_t inputCount;
    MFT_REGISTER_TYPE_INFO inputTypes[MaxTypes];
    std::uint32_t outputCount;
    MFT_REGISTER_TYPE_INFO outputTypes[MaxTypes];
    CreateFunction create;

    // Every field a transform and the enumeration rely on is filled.
    bool isSane() const;

    // The transform attributes the record publishes: asynchronous, dynamic format change, hardware URL,
    // friendly name, "VEN_xxxx", merit, D3D11 awareness.
    HRESULT copyTo(IMFAttributes* attribs) const;
    // A new store with room for those attributes and `extraRoom` more, filled by copyTo.
    HRESULT makeCopy(IMFAttributes** attribs, UINT32 extraRoom) const;
};

} // namespace kiv::mfcodec
