#pragma once
// What the fake NVENC runtime saw of its latest session, for tests to compare with what a transform should
// have asked for. Read through the fake's export fakeNvencObservations().

#include <ffnvcodec/nvEncodeAPI.h>

#include <cstdint>

struct FakeNvencObservations {
    static constexpr int MaxFrames = 256;

    int openSessions = 0;
    int complaints = 0; // misuses refused since the fake was loaded
    GUID codecGuid{};
    GUID presetGuid{};
    NV_ENC_TUNING_INFO tuningInfo = NV_ENC_TUNING_INFO_UNDEFINED;
    NV_ENC_INITIALIZE_PARAMS init{}; // as initialised; its encodeConfig pointer is not kept
    NV_ENC_CONFIG config{};
    int reconfigures = 0;
    NV_ENC_INITIALIZE_PARAMS reconfigured{}; // the latest reconfiguration's parameters
    NV_ENC_CONFIG reconfiguredConfig{};
    bool reconfiguredReset = false;
    bool reconfiguredForceIdr = false;
    int registrations = 0;     // held now
    int registrationsMade = 0; // in the latest session
    int framesEncoded = 0;     // in the latest session
    std::uint32_t picFlags[MaxFrames] = {};
    NV_ENC_PIC_TYPE pictureTypes[MaxFrames] = {};
};

using FakeNvencObservationsFunction = FakeNvencObservations (*)();
