#pragma once
// One queued source-level command of a MediaSource: its type, the start position (Start only) and the
// presentation descriptor it starts (Start only).

#include <mfidl.h>
#include <wrl/client.h>

#include <cstdint>

enum class AsyncOpType : std::int32_t {
    Start = 0,
    Stop = 1,
    Pause = 2,
    EndOfStream = 3,
};

struct AsyncOp {
    explicit AsyncOp(AsyncOpType opType) : type(opType) { PropVariantInit(&propVar); }
    // Keeps a copy of the start position (an empty one for null) and a reference on the descriptor.
    AsyncOp(AsyncOpType opType, const PROPVARIANT* startPosition, IMFPresentationDescriptor* descriptor);
    AsyncOp(const AsyncOp& other);
    AsyncOp& operator=(const AsyncOp& other);
    ~AsyncOp() { PropVariantClear(&propVar); }

    AsyncOpType type;
    PROPVARIANT propVar;
    ComPtr<IMFPresentationDescriptor> presentDesc;
};
