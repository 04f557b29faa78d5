#pragma once
// Sample attributes that carry a frame's number and stream through the capture pipeline and every codec
// transform.

#include <guiddef.h>

#include <cstdint>

DEFINE_GUID(KIV_GUID_FRAMENUM, 0x01020304, 0xacca, 0x415b, 0x87, 0xd9, 0x10, 0x44, 0x14, 0x69, 0xef, 0xc6);
DEFINE_GUID(KIV_GUID_STREAMNUM, 0x01020304, 0xacca, 0x415b, 0x87, 0xd9, 0x10, 0x44, 0x14, 0x69, 0xef, 0xc7);

// The same numbers as AMF properties, which the AMF codecs carry from input to output.
constexpr const wchar_t* KIV_STR_FRAMENUM = L"KivFrameNum";
constexpr const wchar_t* KIV_STR_STREAMNUM = L"KivStreamNum";

// Whether a frame or stream number read with a sentinel for "none" (-1, or 0xFFFFFFFF) is a number to pass
// on.
constexpr bool IsSampleNumber(std::int64_t number) { return number >= 0 && number <= 0xFFFFFFFE; }
