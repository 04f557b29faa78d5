#pragma once
// Shared-mode audio streams: the audio client and its capture service, with the Windows identities, flags
// and result codes. Only loopback capture is offered.

#include <mmreg.h>
#include <unknwn.h>

using REFERENCE_TIME = LONGLONG;
using LPCGUID = const GUID*;

enum AUDCLNT_SHAREMODE { AUDCLNT_SHAREMODE_SHARED, AUDCLNT_SHAREMODE_EXCLUSIVE };

constexpr DWORD AUDCLNT_STREAMFLAGS_CROSSPROCESS = 0x00010000;
constexpr DWORD AUDCLNT_STREAMFLAGS_LOOPBACK = 0x00020000;
constexpr DWORD AUDCLNT_STREAMFLAGS_EVENTCALLBACK = 0x00040000;
constexpr DWORD AUDCLNT_STREAMFLAGS_NOPERSIST = 0x00080000;

enum _AUDCLNT_BUFFERFLAGS {
    AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY = 0x1,
    AUDCLNT_BUFFERFLAGS_SILENT = 0x2,
    AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR = 0x4,
};

constexpr HRESULT AUDCLNT_E_NOT_INITIALIZED = MakeHResult(0x88890001);
constexpr HRESULT AUDCLNT_E_ALREADY_INITIALIZED = MakeHResult(0x88890002);
constexpr HRESULT AUDCLNT_E_WRONG_ENDPOINT_TYPE = MakeHResult(0x88890003);
constexpr HRESULT AUDCLNT_E_DEVICE_INVALIDATED = MakeHResult(0x88890004);
constexpr HRESULT AUDCLNT_E_NOT_STOPPED = MakeHResult(0x88890005);
constexpr HRESULT AUDCLNT_E_BUFFER_TOO_LARGE = MakeHResult(0x88890006);
constexpr HRESULT AUDCLNT_E_OUT_OF_ORDER = MakeHResult(0x88890007);
constexpr HRESULT AUDCLNT_E_UNSUPPORTED_FORMAT = MakeHResult(0x88890008);
constexpr HRESULT AUDCLNT_E_INVALID_SIZE = MakeHResult(0x88890009);
constexpr HRESULT AUDCLNT_E_DEVICE_IN_USE = MakeHResult(0x8889000A);
constexpr HRESULT AUDCLNT_E_BUFFER_OPERATION_PENDING = MakeHResult(0x8889000B);
constexpr HRESULT AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED = MakeHResult(0x8889000E);
constexpr HRESULT AUDCLNT_E_SERVICE_NOT_RUNNING = MakeHResult(0x88890010);
constexpr HRESULT AUDCLNT_E_BUFFER_SIZE_ERROR = MakeHResult(0x88890016);
constexpr HRESULT AUDCLNT_S_BUFFER_EMPTY = MakeHResult(0x08890001);

struct IAudioClient : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE ShareMode, DWORD StreamFlags,
                                                 REFERENCE_TIME hnsBufferDuration,
                                                 REFERENCE_TIME hnsPeriodicity, const WAVEFORMATEX* pFormat,
                                                 LPCGUID AudioSessionGuid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* pNumBufferFrames) = 0;
    // The format is allocated with CoTaskMemAlloc; the caller frees it with CoTaskMemFree.
    virtual HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** ppDeviceFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* phnsDefaultDevicePeriod,
                                                      REFERENCE_TIME* phnsMinimumDevicePeriod) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** ppv) = 0;

protected:
    ~IAudioClient() = default;
};

struct IAudioCaptureClient : IUnknown {
    // One packet: the pointer stays valid until ReleaseBuffer. AUDCLNT_S_BUFFER_EMPTY when no packet is
    // ready.
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** ppData, UINT32* pNumFramesToRead, DWORD* pdwFlags,
                                                UINT64* pu64DevicePosition, UINT64* pu64QPCPosition) = 0;
    // Either all frames of the packet (consumed) or 0 (handed out again by the next GetBuffer).
    virtual HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 NumFramesRead) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* pNumFramesInNextPacket) = 0;

protected:
    ~IAudioCaptureClient() = default;
};

PYX_INTERFACE_ID(IAudioClient, IUnknown, "1cb9ad4c-dbfa-4c32-b178-c2f568a703b2");
PYX_INTERFACE_ID(IAudioCaptureClient, IUnknown, "c8adbd64-e71e-48a0-a4de-185c395cd317");

inline constexpr IID IID_IAudioClient = UuidOf<IAudioClient>();
inline constexpr IID IID_IAudioCaptureClient = UuidOf<IAudioCaptureClient>();
