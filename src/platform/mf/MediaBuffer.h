#pragma once
// IMFMediaBuffer: a block of memory with a maximum and a current (valid) length.

#include "platform/win/Unknown.h"

struct IMFMediaBuffer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Lock(BYTE** ppbBuffer, DWORD* pcbMaxLength,
                                           DWORD* pcbCurrentLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unlock() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentLength(DWORD* pcbCurrentLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCurrentLength(DWORD cbCurrentLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* pcbMaxLength) = 0;

protected:
    ~IMFMediaBuffer() = default;
};

PYX_INTERFACE_ID(IMFMediaBuffer, IUnknown, "045fa593-8799-42b8-bc8d-8968c6453507");

// Alignment arguments of MFCreateAlignedMemoryBuffer: the alignment in bytes minus one.
constexpr DWORD MF_1_BYTE_ALIGNMENT = 0x00000000;
constexpr DWORD MF_2_BYTE_ALIGNMENT = 0x00000001;
constexpr DWORD MF_4_BYTE_ALIGNMENT = 0x00000003;
constexpr DWORD MF_8_BYTE_ALIGNMENT = 0x00000007;
constexpr DWORD MF_16_BYTE_ALIGNMENT = 0x0000000f;
constexpr DWORD MF_32_BYTE_ALIGNMENT = 0x0000001f;
constexpr DWORD MF_64_BYTE_ALIGNMENT = 0x0000003f;
constexpr DWORD MF_128_BYTE_ALIGNMENT = 0x0000007f;
constexpr DWORD MF_256_BYTE_ALIGNMENT = 0x000000ff;
constexpr DWORD MF_512_BYTE_ALIGNMENT = 0x000001ff;

HRESULT MFCreateMemoryBuffer(DWORD cbMaxLength, IMFMediaBuffer** ppBuffer);
HRESULT MFCreateAlignedMemoryBuffer(DWORD cbMaxLength, DWORD fAlignmentFlags, IMFMediaBuffer** ppBuffer);
