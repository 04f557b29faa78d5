#pragma once
// The exports of AMD's AMF runtime that the binding resolves, listed once: X(member, export, signature
// type). AMD publishes no headers for Linux distributions, so the declarations are ours, after the public
// SDK: results are AMF_RESULT values (0 is AMF_OK), versions are four 16-bit parts packed into 64 bits.

#include <cstdint>

namespace kiv::amd {

using AMF_RESULT = int;
constexpr AMF_RESULT AMF_OK = 0;

// The runtime's factory; the transforms reach it through its interface, the binding only holds it.
struct AMFFactory;

using AMFInit_Fn = AMF_RESULT(std::uint64_t version, AMFFactory** factory);
using AMFQueryVersion_Fn = AMF_RESULT(std::uint64_t* version);

} // namespace kiv::amd

#define KIV_AMD_AMF_EXPORTS(X)                                                                               \
    X(Init, AMFInit, ::kiv::amd::AMFInit_Fn)                                                                 \
    X(QueryVersion, AMFQueryVersion, ::kiv::amd::AMFQueryVersion_Fn)
