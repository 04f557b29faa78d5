#pragma once
// What the parts of the fake oneVPL implementation share: its sessions, each with the VA display it was
// given, its encoder and its decoder, the surfaces it hands out, the answers tests script and what it saw,
// all guarded by one lock.

#include "FakeRuntime.h"
#include "FakeVplObservations.h"
#include <vpl/mfxvideo.h>

#include <memory>
#include <mutex>
#include <set>

#define PYX_FAKE_EXPORT extern "C" __attribute__((visibility("default")))

struct FakeEncoder;
void DeleteFakeEncoder(FakeEncoder* encoder);
struct FakeDecoder;
void DeleteFakeDecoder(FakeDecoder* decoder);
struct FakeSession;
// The surfaces of the session that the application still holds.
std::size_t CountFakeSurfaces(const FakeSession* session);
// A system-memory surface of the session (NV12 or RGB4, pitch = row bytes), held once by the caller; its
// memory while the fake writes it.
mfxFrameSurface1* NewFakeSurface(FakeSession* session, const mfxFrameInfo& info);
mfxU8* FakeSurfaceMemory(mfxFrameSurface1* surface);
// MFXVideoCORE_SyncOperation for a decoding session.
mfxStatus SyncFakeDecode(FakeDecoder& decoder, mfxSyncPoint point);

struct FakeSession {
    mfxHDL display = nullptr;
    std::unique_ptr<FakeEncoder, void (*)(FakeEncoder*)> encoder{nullptr, DeleteFakeEncoder};
    std::unique_ptr<FakeDecoder, void (*)(FakeDecoder*)> decoder{nullptr, DeleteFakeDecoder};
};

inline std::mutex g_fakeVplMutex;
inline std::set<FakeSession*> g_fakeVplSessions;
inline FakeVplObservations g_fakeVplSeen{};
// The status the next frame calls answer instead of working, and how many more times.
inline mfxStatus g_fakeVplAnswer = MFX_ERR_NONE;
inline int g_fakeVplAnswers = 0;

// A scripted answer for this frame call (the caller holds the lock), or false.
inline bool TakeScriptedAnswer(mfxStatus& status) {
    if (g_fakeVplAnswers <= 0)
        return false;
    --g_fakeVplAnswers;
    status = g_fakeVplAnswer;
    return true;
}

// The fake's own session (the caller holds the lock), or null after a complaint.
inline FakeSession* FindFakeSession(mfxSession session, const char* function) {
    auto* found = reinterpret_cast<FakeSession*>(session);
    if (g_fakeVplSessions.count(found) == 0) {
        FakeRuntimeComplaint("oneVPL", "%s: %p is not a session", function, static_cast<void*>(session));
        return nullptr;
    }
    return found;
}
