// An NVENC runtime that hands out its function list as the API prescribes: the caller states the list's
// version, and only a list of the headers' version is filled. Every function of the list refuses, loudly,
// until the fake implements it. Tests steer the version it reports and whether the list is filled.

#include "Codec/NvidiaEntryPoints.h"
#include "FakeRuntime.h"

#include <atomic>

namespace {

std::atomic<std::uint32_t> s_maxVersion{(NVENCAPI_MAJOR_VERSION << 4) | NVENCAPI_MINOR_VERSION};
std::atomic<bool> s_leaveOutFirst{false};

#define PYX_FAKE_NVENC_STUB(member, listField)                                                               \
    NVENCSTATUS NVENCAPI Unsupported##member(...) {                                                          \
        FakeRuntimeComplaint("NVENC", "%s is not implemented", #listField);                                  \
        return NV_ENC_ERR_UNIMPLEMENTED;                                                                     \
    }
KIV_NV_NVENC_FUNCTIONS(PYX_FAKE_NVENC_STUB)

const char* NVENCAPI LastErrorString(void*) { return "fake NVENC: no error recorded"; }

} // namespace

extern "C" __attribute__((visibility("default"))) void fakeNvencSetMaxVersion(std::uint32_t version) {
    s_maxVersion = version;
}

// A runtime whose list lacks a function, as an incomplete driver installation would give.
extern "C" __attribute__((visibility("default"))) void fakeNvencLeaveOutFirstFunction(bool leaveOut) {
    s_leaveOutFirst = leaveOut;
}

extern "C" __attribute__((visibility("default"))) NVENCSTATUS NVENCAPI
NvEncodeAPIGetMaxSupportedVersion(uint32_t* version) {
    if (version == nullptr) {
        FakeRuntimeComplaint("NVENC", "NvEncodeAPIGetMaxSupportedVersion: null version");
        return NV_ENC_ERR_INVALID_PTR;
    }
    *version = s_maxVersion;
    return NV_ENC_SUCCESS;
}

extern "C" __attribute__((visibility("default"))) NVENCSTATUS NVENCAPI
NvEncodeAPICreateInstance(NV_ENCODE_API_FUNCTION_LIST* functions) {
    if (functions == nullptr) {
        FakeRuntimeComplaint("NVENC", "NvEncodeAPICreateInstance: null function list");
        return NV_ENC_ERR_INVALID_PTR;
    }
    if (functions->version != NV_ENCODE_API_FUNCTION_LIST_VER) {
        FakeRuntimeComplaint("NVENC", "NvEncodeAPICreateInstance: list version 0x%08X", functions->version);
        return NV_ENC_ERR_INVALID_VERSION;
    }
#define PYX_FAKE_NVENC_FILL(member, listField)                                                               \
    functions->listField = reinterpret_cast<decltype(functions->listField)>(                                 \
        reinterpret_cast<void (*)()>(&Unsupported##member));
    KIV_NV_NVENC_FUNCTIONS(PYX_FAKE_NVENC_FILL)
    functions->nvEncGetLastErrorString = &LastErrorString;
    if (s_leaveOutFirst)
        functions->nvEncOpenEncodeSessionEx = nullptr;
    return NV_ENC_SUCCESS;
}
