#pragma once
// Value types of the graphics-capture classes.

#include "platform/win/WinTypes.h"

#include <cstdint>

struct SizeInt32 {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

// Identifies one registered event handler; 0 is no handler.
struct EventToken {
    std::int64_t value = 0;
};

enum class DirectXPixelFormat : std::int32_t {
    Unknown = 0,
    B8G8R8A8UIntNormalized = 87,
};

// The runtime's results for calls on a closed object and for calls the object's state does not allow.
constexpr HRESULT RO_E_CLOSED = MakeHResult(0x80000013);
constexpr HRESULT E_ILLEGAL_METHOD_CALL = MakeHResult(0x8000000E);
