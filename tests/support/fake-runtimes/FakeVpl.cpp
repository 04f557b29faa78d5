// A oneVPL GPU implementation as the dispatcher finds it: a library under the implementation's name that
// describes one hardware implementation (VA-API, Intel, H.264 and HEVC encode and decode) and makes sessions
// on it. It keeps the documented rules: sessions only through MFXInitialize with the acceleration mode it
// offers, descriptions released once, one device handle per session. Tests steer its API version and read
// what the sessions were given.

#include "FakeVplSession.h"
#include <vpl/mfximplcaps.h>

#include <atomic>
#include <cstring>

namespace {

std::atomic<mfxU32> s_apiVersion{0x0002000A}; // 2.10
std::atomic<mfxU32> s_lastAccelerationMode{0};
std::atomic<mfxHDL> s_lastDisplay{nullptr};

mfxU32 s_colorFormats[] = {MFX_FOURCC_NV12, MFX_FOURCC_RGB4};
mfxAccelerationMode s_modes[] = {MFX_ACCEL_MODE_VIA_VAAPI};
mfxEncoderDescription::encoder::encprofile::encmemdesc s_encMemory[] = {
    {MFX_RESOURCE_SYSTEM_SURFACE, {16, 4096, 16}, {16, 4096, 16}, {}, 2, s_colorFormats}};
mfxEncoderDescription::encoder::encprofile s_encProfiles[] = {{MFX_PROFILE_AVC_MAIN, {}, 1, s_encMemory}};
mfxEncoderDescription::encoder::encprofile s_hevcEncProfiles[] = {
    {MFX_PROFILE_HEVC_MAIN, {}, 1, s_encMemory}};
mfxEncoderDescription::encoder s_encoders[] = {
    {MFX_CODEC_AVC, MFX_LEVEL_AVC_51, 0, {}, 1, s_encProfiles},
    {MFX_CODEC_HEVC, MFX_LEVEL_HEVC_51, 0, {}, 1, s_hevcEncProfiles}};
mfxDecoderDescription::decoder::decprofile::decmemdesc s_decMemory[] = {
    {MFX_RESOURCE_SYSTEM_SURFACE, {16, 4096, 16}, {16, 4096, 16}, {}, 1, s_colorFormats}};
mfxDecoderDescription::decoder::decprofile s_decProfiles[] = {{MFX_PROFILE_AVC_MAIN, {}, 1, s_decMemory}};
mfxDecoderDescription::decoder::decprofile s_hevcDecProfiles[] = {
    {MFX_PROFILE_HEVC_MAIN, {}, 1, s_decMemory}};
mfxDecoderDescription::decoder s_decoders[] = {{MFX_CODEC_AVC, {}, MFX_LEVEL_AVC_51, 1, s_decProfiles},
                                               {MFX_CODEC_HEVC, {}, MFX_LEVEL_HEVC_51, 1, s_hevcDecProfiles}};

// One answer to MFXQueryImplsDescription: the handle array and the description it points to.
struct Description {
    mfxImplDescription description{};
    mfxHDL handles[1] = {&description};
};
std::set<Description*> s_descriptions;

Description* Describe() {
    auto* result = new Description;
    mfxImplDescription& d = result->description;
    d.Version.Version = MFX_IMPLDESCRIPTION_VERSION;
    d.Impl = MFX_IMPL_TYPE_HARDWARE;
    d.AccelerationMode = MFX_ACCEL_MODE_VIA_VAAPI;
    d.ApiVersion.Major = static_cast<mfxU16>(s_apiVersion >> 16);
    d.ApiVersion.Minor = static_cast<mfxU16>(s_apiVersion & 0xFFFF);
    std::strcpy(d.ImplName, "mfx-gen");
    std::strcpy(d.License, "MIT");
    std::strcpy(d.Keywords, "fake,GPU");
    d.VendorID = 0x8086;
    d.Dev.Version.Version = MFX_DEVICEDESCRIPTION_VERSION;
    std::strcpy(d.Dev.DeviceID, "a780/0");
    d.Dec.Version.Version = MFX_DECODERDESCRIPTION_VERSION;
    d.Dec.NumCodecs = 2;
    d.Dec.Codecs = s_decoders;
    d.Enc.Version.Version = MFX_ENCODERDESCRIPTION_VERSION;
    d.Enc.NumCodecs = 2;
    d.Enc.Codecs = s_encoders;
    d.VPP.Version.Version = MFX_VPPDESCRIPTION_VERSION;
    d.AccelerationModeDescription.Version.Version = MFX_ACCELERATIONMODESCRIPTION_VERSION;
    d.AccelerationModeDescription.NumAccelerationModes = 1;
    d.AccelerationModeDescription.Mode = s_modes;
    return result;
}

} // namespace

PYX_FAKE_EXPORT void fakeVplSetApiVersion(mfxU32 version) { s_apiVersion = version; }
PYX_FAKE_EXPORT mfxU32 fakeVplLastAccelerationMode() { return s_lastAccelerationMode; }
PYX_FAKE_EXPORT mfxHDL fakeVplLastDisplay() { return s_lastDisplay; }
PYX_FAKE_EXPORT void fakeVplAnswer(mfxStatus status, int times) {
    std::lock_guard lock(g_fakeVplMutex);
    g_fakeVplAnswer = status;
    g_fakeVplAnswers = times;
}
PYX_FAKE_EXPORT FakeVplObservations fakeVplObservations(bool forget) {
    std::lock_guard lock(g_fakeVplMutex);
    const FakeVplObservations seen = g_fakeVplSeen;
    if (forget)
        g_fakeVplSeen = FakeVplObservations{};
    return seen;
}
PYX_FAKE_EXPORT std::size_t fakeVplOpenSessions() {
    std::lock_guard lock(g_fakeVplMutex);
    return g_fakeVplSessions.size();
}

PYX_FAKE_EXPORT mfxHDL* MFXQueryImplsDescription(mfxImplCapsDeliveryFormat format, mfxU32* numImpls) {
    if (numImpls == nullptr) {
        FakeRuntimeComplaint("oneVPL", "MFXQueryImplsDescription: null count");
        return nullptr;
    }
    *numImpls = 0;
    if (format != MFX_IMPLCAPS_IMPLDESCSTRUCTURE)
        return nullptr; // the other forms are optional
    std::lock_guard lock(g_fakeVplMutex);
    Description* description = Describe();
    s_descriptions.insert(description);
    *numImpls = 1;
    return description->handles;
}

PYX_FAKE_EXPORT mfxStatus MFXReleaseImplDescription(mfxHDL handle) {
    std::lock_guard lock(g_fakeVplMutex);
    for (Description* description : s_descriptions) {
        if (handle == &description->description) {
            s_descriptions.erase(description);
            delete description;
            return MFX_ERR_NONE;
        }
    }
    FakeRuntimeComplaint("oneVPL", "MFXReleaseImplDescription: %p was not handed out or is released", handle);
    return MFX_ERR_NULL_PTR;
}

PYX_FAKE_EXPORT mfxStatus MFXInitialize(mfxInitializationParam param, mfxSession* session) {
    if (session == nullptr) {
        FakeRuntimeComplaint("oneVPL", "MFXInitialize: null session");
        return MFX_ERR_NULL_PTR;
    }
    s_lastAccelerationMode = param.AccelerationMode;
    if (param.AccelerationMode != MFX_ACCEL_MODE_VIA_VAAPI || param.VendorImplID != 0) {
        FakeRuntimeComplaint("oneVPL", "MFXInitialize: acceleration mode 0x%x, implementation %u not offered",
                             static_cast<unsigned>(param.AccelerationMode), param.VendorImplID);
        return MFX_ERR_UNSUPPORTED;
    }
    std::lock_guard lock(g_fakeVplMutex);
    auto* created = new FakeSession;
    g_fakeVplSessions.insert(created);
    *session = reinterpret_cast<mfxSession>(created);
    return MFX_ERR_NONE;
}

// A query of a session's own value into `out`.
template <typename Value>
mfxStatus Answer(mfxSession session, const char* function, Value* out, Value value) {
    std::lock_guard lock(g_fakeVplMutex);
    if (FindFakeSession(session, function) == nullptr)
        return MFX_ERR_INVALID_HANDLE;
    if (out == nullptr)
        return MFX_ERR_NULL_PTR;
    *out = value;
    return MFX_ERR_NONE;
}

PYX_FAKE_EXPORT mfxStatus MFXQueryVersion(mfxSession session, mfxVersion* version) {
    mfxVersion current{};
    current.Major = static_cast<mfxU16>(s_apiVersion >> 16);
    current.Minor = static_cast<mfxU16>(s_apiVersion & 0xFFFF);
    return Answer(session, "MFXQueryVersion", version, current);
}

PYX_FAKE_EXPORT mfxStatus MFXQueryIMPL(mfxSession session, mfxIMPL* impl) {
    return Answer<mfxIMPL>(session, "MFXQueryIMPL", impl, MFX_IMPL_HARDWARE | MFX_IMPL_VIA_VAAPI);
}

PYX_FAKE_EXPORT mfxStatus MFXClose(mfxSession session) {
    std::lock_guard lock(g_fakeVplMutex);
    FakeSession* found = FindFakeSession(session, "MFXClose");
    if (found == nullptr)
        return MFX_ERR_INVALID_HANDLE;
    if (const std::size_t held = CountFakeSurfaces(found); held != 0)
        FakeRuntimeComplaint("oneVPL", "MFXClose: %zu surfaces of the session were never released", held);
    g_fakeVplSessions.erase(found);
    delete found;
    return MFX_ERR_NONE;
}

PYX_FAKE_EXPORT mfxStatus MFXVideoCORE_SetHandle(mfxSession session, mfxHandleType type, mfxHDL handle) {
    std::lock_guard lock(g_fakeVplMutex);
    FakeSession* found = FindFakeSession(session, "MFXVideoCORE_SetHandle");
    if (found == nullptr)
        return MFX_ERR_INVALID_HANDLE;
    if (type != MFX_HANDLE_VA_DISPLAY || handle == nullptr) {
        FakeRuntimeComplaint("oneVPL", "MFXVideoCORE_SetHandle: type %d, handle %p is no VA display",
                             static_cast<int>(type), handle);
        return MFX_ERR_INVALID_HANDLE;
    }
    if (found->display != nullptr) {
        FakeRuntimeComplaint("oneVPL", "MFXVideoCORE_SetHandle: the session has a display already");
        return MFX_ERR_UNDEFINED_BEHAVIOR;
    }
    found->display = handle;
    s_lastDisplay = handle;
    return MFX_ERR_NONE;
}

PYX_FAKE_EXPORT mfxStatus MFXVideoCORE_GetHandle(mfxSession session, mfxHandleType type, mfxHDL* handle) {
    std::lock_guard lock(g_fakeVplMutex);
    FakeSession* found = FindFakeSession(session, "MFXVideoCORE_GetHandle");
    if (found == nullptr)
        return MFX_ERR_INVALID_HANDLE;
    if (handle == nullptr)
        return MFX_ERR_NULL_PTR;
    if (type != MFX_HANDLE_VA_DISPLAY || found->display == nullptr)
        return MFX_ERR_NOT_FOUND;
    *handle = found->display;
    return MFX_ERR_NONE;
}
