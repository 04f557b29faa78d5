#pragma once
// What the parts of the fake oneVPL implementation share: its sessions, each with the VA display it was
// given and its encoder, all guarded by one lock.

#include "FakeRuntime.h"
#include <vpl/mfxvideo.h>

#include <memory>
#include <mutex>
#include <set>

#define PYX_FAKE_EXPORT extern "C" __attribute__((visibility("default")))

struct FakeEncoder;
void DeleteFakeEncoder(FakeEncoder* encoder);
struct FakeSession;
// The surfaces of the session that the application still holds.
std::size_t CountFakeSurfaces(const FakeSession* session);

struct FakeSession {
    mfxHDL display = nullptr;
    std::unique_ptr<FakeEncoder, void (*)(FakeEncoder*)> encoder{nullptr, DeleteFakeEncoder};
};

inline std::mutex g_fakeVplMutex;
inline std::set<FakeSession*> g_fakeVplSessions;

// The fake's own session (the caller holds the lock), or null after a complaint.
inline FakeSession* FindFakeSession(mfxSession session, const char* function) {
    auto* found = reinterpret_cast<FakeSession*>(session);
    if (g_fakeVplSessions.count(found) == 0) {
        FakeRuntimeComplaint("oneVPL", "%s: %p is not a session", function, static_cast<void*>(session));
        return nullptr;
    }
    return found;
}
