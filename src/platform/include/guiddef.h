#pragma once
// GUID with constexpr definition and comparison; the value layout matches Windows.

#include <minwindef.h>

#include <cstddef>
#include <functional>

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
// As on Windows: headers that declare their own GUID where none exists (vendor SDKs) take this one.
#define GUID_DEFINED

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}

// Orders GUIDs so they can key ordered maps.
constexpr bool operator<(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1)
        return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2)
        return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3)
        return a.Data3 < b.Data3;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return a.Data4[i] < b.Data4[i];
    return false;
}

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
constexpr bool IsEqualIID(REFIID a, REFIID b) { return a == b; }

#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                                         \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

DEFINE_GUID(GUID_NULL, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);

// Parses "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" at compile time (used to attach IIDs to interfaces).
constexpr GUID GuidFromString(const char (&s)[37]) {
    auto hex = [](char c) -> std::uint32_t {
        return c >= '0' && c <= '9'   ? std::uint32_t(c - '0')
               : c >= 'a' && c <= 'f' ? std::uint32_t(c - 'a' + 10)
               : c >= 'A' && c <= 'F' ? std::uint32_t(c - 'A' + 10)
                                      : throw "invalid GUID text";
    };
    auto field = [&](int pos, int digits) {
        std::uint32_t v = 0;
        for (int i = 0; i < digits; ++i)
            v = (v << 4) | hex(s[pos + i]);
        return v;
    };
    GUID g{
        field(0, 8), static_cast<std::uint16_t>(field(9, 4)), static_cast<std::uint16_t>(field(14, 4)), {}};
    const int bytePos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = static_cast<std::uint8_t>(field(bytePos[i], 2));
    return g;
}

template <>
struct std::hash<GUID> {
    std::size_t operator()(const GUID& g) const noexcept {
        std::size_t h = g.Data1 ^ (std::size_t(g.Data2) << 32) ^ (std::size_t(g.Data3) << 48);
        for (int i = 0; i < 8; ++i)
            h = h * 31 + g.Data4[i];
        return h;
    }
};
