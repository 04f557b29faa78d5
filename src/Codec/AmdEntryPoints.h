#pragma once
// The exports of AMD's AMF runtime that the binding resolves, listed once: X(member, export, signature
// type). Versions are four 16-bit parts packed into 64 bits; the factory's interfaces are in AmfInterfaces.h.

#include "AmfInterfaces.h"

#include <cstdint>

namespace kiv::amd {

using AMFInit_Fn = AMF_RESULT(std::uint64_t version, amf::AMFFactory** factory);
using AMFQueryVersion_Fn = AMF_RESULT(std::uint64_t* version);

} // namespace kiv::amd

#define KIV_AMD_AMF_EXPORTS(X)                                                                               \
    X(Init, AMFInit, ::kiv::amd::AMFInit_Fn)                                                                 \
    X(QueryVersion, AMFQueryVersion, ::kiv::amd::AMFQueryVersion_Fn)
