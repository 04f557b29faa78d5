// An AMF runtime without AMFQueryVersion.

#include "Codec/AmdEntryPoints.h"

extern "C" __attribute__((visibility("default"))) kiv::amd::AMF_RESULT AMFInit(std::uint64_t,
                                                                               kiv::amd::AMFFactory**) {
    return 1; // AMF_FAIL
}
