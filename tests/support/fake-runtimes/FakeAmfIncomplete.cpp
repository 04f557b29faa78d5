// An AMF runtime without AMFQueryVersion.

#include "Codec/AmdEntryPoints.h"

extern "C" __attribute__((visibility("default"))) AMF_RESULT AMFInit(std::uint64_t, amf::AMFFactory**) {
    return AMF_FAIL;
}
