// An AMF runtime as far as its loading goes: it reports its version and initialises only for an SDK version
// it can serve (not newer than itself), handing out a factory. Tests steer the version and can make it hand
// out no factory despite success.

#include "Codec/AmdEntryPoints.h"
#include "FakeRuntime.h"

#include <atomic>
#include <type_traits>

namespace {

constexpr kiv::amd::AMF_RESULT InvalidPointer = 7; // AMF_INVALID_POINTER
constexpr kiv::amd::AMF_RESULT NotSupported = 10;  // AMF_NOT_SUPPORTED

std::atomic<std::uint64_t> s_version{0x0001000400210000ULL}; // 1.4.33.0
std::atomic<bool> s_noFactory{false};
int s_factory; // what the fake hands out; nobody looks inside

} // namespace

extern "C" __attribute__((visibility("default"))) void fakeAmfSetVersion(std::uint64_t version) {
    s_version = version;
}
extern "C" __attribute__((visibility("default"))) void fakeAmfHandOutNoFactory(bool none) {
    s_noFactory = none;
}

extern "C" __attribute__((visibility("default"))) kiv::amd::AMF_RESULT
AMFQueryVersion(std::uint64_t* version) {
    if (version == nullptr) {
        FakeRuntimeComplaint("AMF", "AMFQueryVersion: null version");
        return InvalidPointer;
    }
    *version = s_version;
    return kiv::amd::AMF_OK;
}

extern "C" __attribute__((visibility("default"))) kiv::amd::AMF_RESULT
AMFInit(std::uint64_t version, kiv::amd::AMFFactory** factory) {
    if (factory == nullptr) {
        FakeRuntimeComplaint("AMF", "AMFInit: null factory");
        return InvalidPointer;
    }
    if (version > s_version) {
        FakeRuntimeComplaint("AMF", "AMFInit: SDK version %llx is newer than the runtime",
                             static_cast<unsigned long long>(version));
        return NotSupported;
    }
    *factory = s_noFactory ? nullptr : reinterpret_cast<kiv::amd::AMFFactory*>(&s_factory);
    return kiv::amd::AMF_OK;
}

static_assert(std::is_same_v<decltype(AMFInit), kiv::amd::AMFInit_Fn>);
static_assert(std::is_same_v<decltype(AMFQueryVersion), kiv::amd::AMFQueryVersion_Fn>);
