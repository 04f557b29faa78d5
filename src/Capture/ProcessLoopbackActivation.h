#pragma once
// An audio client that records what one process and its descendants play, activated asynchronously on the
// virtual process-loopback device and waited for.

#include <audioclient.h>
#include <wrl/client.h>

#include <cstdint>

// Throws ComException with the failed step.
ComPtr<IAudioClient> ActivateProcessLoopbackClient(std::uint32_t processId);
