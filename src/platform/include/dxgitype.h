#pragma once
// DXGI value types, formats and result codes, with their Windows values.

#include <fileapi.h>
#include <minwindef.h>
#include <winuser.h>

constexpr HRESULT DXGI_ERROR_INVALID_CALL = MakeHResult(0x887A0001);
constexpr HRESULT DXGI_ERROR_NOT_FOUND = MakeHResult(0x887A0002);
constexpr HRESULT DXGI_ERROR_MORE_DATA = MakeHResult(0x887A0003);
constexpr HRESULT DXGI_ERROR_UNSUPPORTED = MakeHResult(0x887A0004);
constexpr HRESULT DXGI_ERROR_DEVICE_REMOVED = MakeHResult(0x887A0005);
constexpr HRESULT DXGI_ERROR_NOT_CURRENTLY_AVAILABLE = MakeHResult(0x887A0022);
constexpr HRESULT DXGI_ERROR_ACCESS_LOST = MakeHResult(0x887A0026);
constexpr HRESULT DXGI_ERROR_WAIT_TIMEOUT = MakeHResult(0x887A0027);

enum DXGI_FORMAT : UINT {
    DXGI_FORMAT_UNKNOWN = 0,
    DXGI_FORMAT_R10G10B10A2_UNORM = 24,
    DXGI_FORMAT_R8G8B8A8_UNORM = 28,
    DXGI_FORMAT_R8_UNORM = 61,
    DXGI_FORMAT_B8G8R8A8_UNORM = 87,
    DXGI_FORMAT_AYUV = 100,
    DXGI_FORMAT_NV12 = 103,
    DXGI_FORMAT_P010 = 104,
};

enum DXGI_MODE_ROTATION : UINT {
    DXGI_MODE_ROTATION_UNSPECIFIED = 0,
    DXGI_MODE_ROTATION_IDENTITY = 1,
    DXGI_MODE_ROTATION_ROTATE90 = 2,
    DXGI_MODE_ROTATION_ROTATE180 = 3,
    DXGI_MODE_ROTATION_ROTATE270 = 4,
};

enum DXGI_MODE_SCANLINE_ORDER : UINT {
    DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED = 0,
    DXGI_MODE_SCANLINE_ORDER_PROGRESSIVE = 1
};
enum DXGI_MODE_SCALING : UINT { DXGI_MODE_SCALING_UNSPECIFIED = 0 };

constexpr UINT DXGI_ADAPTER_FLAG_NONE = 0;
constexpr UINT DXGI_ADAPTER_FLAG_REMOTE = 1;
constexpr UINT DXGI_ADAPTER_FLAG_SOFTWARE = 2;

struct LUID {
    DWORD LowPart;
    LONG HighPart;
};

struct DXGI_SAMPLE_DESC {
    UINT Count;
    UINT Quality;
};

struct DXGI_RATIONAL {
    UINT Numerator;
    UINT Denominator;
};

struct DXGI_MODE_DESC {
    UINT Width;
    UINT Height;
    DXGI_RATIONAL RefreshRate;
    DXGI_FORMAT Format;
    DXGI_MODE_SCANLINE_ORDER ScanlineOrdering;
    DXGI_MODE_SCALING Scaling;
};

struct DXGI_ADAPTER_DESC {
    WCHAR Description[128];
    UINT VendorId;
    UINT DeviceId;
    UINT SubSysId;
    UINT Revision;
    SIZE_T DedicatedVideoMemory;
    SIZE_T DedicatedSystemMemory;
    SIZE_T SharedSystemMemory;
    LUID AdapterLuid;
};

struct DXGI_ADAPTER_DESC1 : DXGI_ADAPTER_DESC {
    UINT Flags;
};

struct DXGI_OUTPUT_DESC {
    WCHAR DeviceName[32];
    RECT DesktopCoordinates;
    BOOL AttachedToDesktop;
    DXGI_MODE_ROTATION Rotation;
    HMONITOR Monitor;
};

struct DXGI_OUTDUPL_DESC {
    DXGI_MODE_DESC ModeDesc;
    DXGI_MODE_ROTATION Rotation;
    BOOL DesktopImageInSystemMemory;
};

struct DXGI_OUTDUPL_POINTER_POSITION {
    POINT Position;
    BOOL Visible;
};

struct DXGI_OUTDUPL_FRAME_INFO {
    LARGE_INTEGER LastPresentTime;
    LARGE_INTEGER LastMouseUpdateTime;
    UINT AccumulatedFrames;
    BOOL RectsCoalesced;
    BOOL ProtectedContentMaskedOut;
    DXGI_OUTDUPL_POINTER_POSITION PointerPosition;
    UINT TotalMetadataBufferSize;
    UINT PointerShapeBufferSize;
};
