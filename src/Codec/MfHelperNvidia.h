#pragma once
// The process-wide bindings of NVIDIA's runtimes: the NVENC encoder API (`NvEnc`), the CUDA driver API
// (`Cuda`) and the NVDEC decoder and parser API (`NvDec`). The transforms never link against NVIDIA
// libraries: load_() finds the runtime, resolves every entry point of its table and initialises it; a failed
// load leaves the binding unloaded, so a later load tries again. And the conversion of CUDA and NVENC status
// codes into HRESULTs.

#include "NvidiaEntryPoints.h"
#include "RuntimeLibrary.h"
#include <d3d11.h>
#include <dxgitype.h>
#include <mfobjects.h>
#include <wrl/client.h>

#include <cstdint>

namespace kiv::nv {

using Error = kiv::Error;

#define KIV_NV_DECLARE_ENTRY(member, exportName, type) type* member = nullptr;

class CudaInterface {
public:
    KIV_NV_CUDA_ENTRY_POINTS(KIV_NV_DECLARE_ENTRY)

    static constexpr const wchar_t* LibraryName = L"libcuda.so.1";

    // Idempotent; never throws. Logs at most one line.
    Error load_();
    bool isLoaded_() const { return m_dll.isOpen() && Init != nullptr; }
    // The CUDA device of the GPU behind `inD3dDevice`'s adapter, matched by PCI bus id. A CUDA status.
    CUresult getDevice_(ID3D11Device* inD3dDevice, CUdevice* outCudaDevice);

    int majorVersion_ = 0;
    int minorVersion_ = 0;

private:
    Error fail(Error error);

    RuntimeLibrary m_dll;
};

#define KIV_NV_DECLARE_FUNCTION(member, listField)                                                           \
    decltype(NV_ENCODE_API_FUNCTION_LIST::listField) member = nullptr;

class EncoderInterface {
public:
    KIV_NV_NVENC_EXPORTS(KIV_NV_DECLARE_ENTRY)
    KIV_NV_NVENC_FUNCTIONS(KIV_NV_DECLARE_FUNCTION)

    static constexpr const wchar_t* LibraryName = L"libnvidia-encode.so.1";
    // The API version of the interface headers; an older runtime cannot serve them. Every structure version
    // the transforms state comes from the same headers' macros.
    static constexpr std::uint32_t RequiredVersion = (NVENCAPI_MAJOR_VERSION << 4) | NVENCAPI_MINOR_VERSION;

    Error load_();
    bool isLoaded_() const { return m_dll.isOpen() && OpenEncodeSessionEx != nullptr; }

    int majorVersion_ = 0;
    int minorVersion_ = 0;

private:
    Error fail(Error error);

    RuntimeLibrary m_dll;
};

#undef KIV_NV_DECLARE_FUNCTION

class DecoderInterface {
public:
    KIV_NV_NVDEC_ENTRY_POINTS(KIV_NV_DECLARE_ENTRY)

    static constexpr const wchar_t* LibraryName = L"libnvcuvid.so.1";

    Error load_();
    bool isLoaded_() const { return m_dll.isOpen() && CreateDecoder != nullptr; }

private:
    Error fail(Error error);

    RuntimeLibrary m_dll;
};

#undef KIV_NV_DECLARE_ENTRY

extern EncoderInterface NvEnc;
extern CudaInterface Cuda;
extern DecoderInterface NvDec;

// What one NVENC encode takes from an input sample over a single texture.
struct EncoderInputSampleInfo {
    ComPtr<IMFSample> sample;
    std::int32_t streamNum = -1;
    std::int32_t frameNum = -1;
    std::int64_t timestamp = 0;
    std::int64_t duration = 0;
    ComPtr<ID3D11Texture2D> texture;
    std::uint32_t subIndex = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t pitch = 0; // the texture width, not a byte pitch
    DXGI_FORMAT dxgiFormat = DXGI_FORMAT_UNKNOWN;
    NV_ENC_BUFFER_FORMAT bufferFormat = NV_ENC_BUFFER_FORMAT_UNDEFINED;

    static HRESULT FromMF(IMFSample* in, EncoderInputSampleInfo* out);
};

// The NVENC input format of a texture format; NV_ENC_BUFFER_FORMAT_UNDEFINED for those NVENC cannot take.
NV_ENC_BUFFER_FORMAT BufferFormatFromDxgi(DXGI_FORMAT format);

// Vendor status codes as HRESULTs of facility 0x55D with the customer bit.
HRESULT NvencToHresult(int status);
HRESULT CudaToHresult(CUresult result);

} // namespace kiv::nv
