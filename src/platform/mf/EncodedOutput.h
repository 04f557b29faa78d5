#pragma once
// The samples an encoder transform has made from its backend's packets and not yet handed out.

#include "platform/av/CodecTypes.h"
#include <mftransform.h>
#include <wrl/client.h>

#include <deque>
#include <functional>

using SampleQueue = std::deque<ComPtr<IMFSample>>;

// Receives packets until the backend has none ready, each made into a queued sample by `make`.
HRESULT CollectPackets(const std::function<av::CodecStatus(const av::PacketConsumer&)>& receive,
                       const std::function<HRESULT(const av::EncodedPacketView&, ComPtr<IMFSample>&)>& make,
                       SampleQueue& queue);

// Hands out the oldest sample, marking the buffer incomplete while more wait; false when there is none.
bool HandOut(SampleQueue& queue, MFT_OUTPUT_DATA_BUFFER& buffer);
