#include "MfHelperNvidia.h"

#include "CodecReport.h"
#include "SampleAttributes.h"
#include <dxgi.h>
#include <mfidl.h>
#include <pyx/AdapterBusId.h>

#include <string>

namespace kiv::nv {

EncoderInterface NvEnc;
CudaInterface Cuda;
DecoderInterface NvDec;

namespace {

// Resolves every entry of a table into the binding's members; the first missing one is reported and ends
// the binding.
#define KIV_NV_BIND_ENTRY(member, exportName, type)                                                          \
    member = reinterpret_cast<type*>(m_dll.symbol(#exportName));                                             \
    if (member == nullptr) {                                                                                 \
        mfcodec::ReportFailedCondition(E_FAIL, #exportName " != nullptr", __PRETTY_FUNCTION__, __LINE__);    \
        return fail(Error::EntryPointNotFound);                                                              \
    }

#define KIV_NV_CLEAR_ENTRY(member, exportName, type) member = nullptr;

// Returns the CUDA status `result` after reporting that `condition` does not hold.
#define KIV_NV_RETURN_UNLESS(condition, result)                                                              \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            mfcodec::ReportFailedCondition(CudaToHresult(result), #condition, __PRETTY_FUNCTION__,           \
                                           __LINE__);                                                        \
            return result;                                                                                   \
        }                                                                                                    \
    } while (false)

// Loads the runtime; a library that cannot be loaded is reported as the load_ at `function` failing.
bool Opened(RuntimeLibrary& dll, const wchar_t* name, const char* function, int line) {
    if (dll.open(name) == Error::None)
        return true;
    mfcodec::ReportFailedCondition(E_FAIL, "m_dll != nullptr", function, line);
    return false;
}

} // namespace

#define KIV_NV_CLEAR_FUNCTION(member, listField) member = nullptr;

Error EncoderInterface::fail(Error error) {
    KIV_NV_NVENC_EXPORTS(KIV_NV_CLEAR_ENTRY)
    KIV_NV_NVENC_FUNCTIONS(KIV_NV_CLEAR_FUNCTION)
    m_dll.close();
    return error;
}

Error EncoderInterface::load_() {
    if (isLoaded_())
        return Error::None;
    if (!Opened(m_dll, LibraryName, __PRETTY_FUNCTION__, __LINE__))
        return Error::DllNotFound;
    KIV_NV_NVENC_EXPORTS(KIV_NV_BIND_ENTRY)
    std::uint32_t version = 0;
    if (const NVENCSTATUS status = GetMaxSupportedVersion(&version); status != NV_ENC_SUCCESS) {
        mfcodec::ReportFailedCall(NvencToHresult(status), "GetMaxSupportedVersion( &version )",
                                  __PRETTY_FUNCTION__, __LINE__);
        return fail(Error::InitFailed);
    }
    majorVersion_ = static_cast<int>(version >> 4);
    minorVersion_ = static_cast<int>(version & 0xF);
    if (version < RequiredVersion) {
        mfcodec::ReportFailedCondition(E_FAIL, "version >= RequiredVersion", __PRETTY_FUNCTION__, __LINE__);
        return fail(Error::VersionTooOld);
    }
    NV_ENCODE_API_FUNCTION_LIST functions{};
    functions.version = NV_ENCODE_API_FUNCTION_LIST_VER;
    if (const NVENCSTATUS status = CreateInstance(&functions); status != NV_ENC_SUCCESS) {
        mfcodec::ReportFailedCall(NvencToHresult(status), "CreateInstance( &functions )", __PRETTY_FUNCTION__,
                                  __LINE__);
        return fail(Error::InitFailed);
    }
    // A runtime that leaves a function out cannot serve the transforms: it is refused like a missing export.
#define KIV_NV_TAKE_FUNCTION(member, listField)                                                              \
    member = functions.listField;                                                                            \
    if (member == nullptr) {                                                                                 \
        mfcodec::ReportFailedCondition(E_FAIL, "this->" #member, __PRETTY_FUNCTION__, __LINE__);             \
        return fail(Error::EntryPointNotFound);                                                              \
    }
    KIV_NV_NVENC_FUNCTIONS(KIV_NV_TAKE_FUNCTION)
#undef KIV_NV_TAKE_FUNCTION
    return Error::None;
}

Error CudaInterface::fail(Error error) {
    KIV_NV_CUDA_ENTRY_POINTS(KIV_NV_CLEAR_ENTRY)
    m_dll.close();
    return error;
}

Error CudaInterface::load_() {
    if (isLoaded_())
        return Error::None;
    if (!Opened(m_dll, LibraryName, __PRETTY_FUNCTION__, __LINE__))
        return Error::DllNotFound;
    KIV_NV_CUDA_ENTRY_POINTS(KIV_NV_BIND_ENTRY)
    int version = 0;
    if (Init(0) != CUDA_SUCCESS || DriverGetVersion(&version) != CUDA_SUCCESS) {
        mfcodec::ReportFailedCondition(
            E_FAIL, "CUDA_SUCCESS == Init( 0 ) && CUDA_SUCCESS == DriverGetVersion( &version )",
            __PRETTY_FUNCTION__, __LINE__);
        return fail(Error::InitFailed);
    }
    majorVersion_ = version / 1000;
    minorVersion_ = (version % 1000) / 10;
    return Error::None;
}

CUresult CudaInterface::getDevice_(ID3D11Device* inD3dDevice, CUdevice* outCudaDevice) {
    constexpr CUresult ExternalDevice = CUresult(911);               // CUDA_ERROR_EXTERNAL_DEVICE
    KIV_NV_RETURN_UNLESS(inD3dDevice && outCudaDevice, CUresult(1)); // CUDA_ERROR_INVALID_VALUE
    ComPtr<IDXGIDevice> dxgiDevice;
    KIV_NV_RETURN_UNLESS(SUCCEEDED(inD3dDevice->QueryInterface(dxgiDevice.ReleaseAndGetAddressOf())),
                         ExternalDevice);
    ComPtr<IDXGIAdapter> adapter;
    KIV_NV_RETURN_UNLESS(SUCCEEDED(dxgiDevice->GetAdapter(adapter.ReleaseAndGetAddressOf())), ExternalDevice);
    // The driver names its devices by PCI bus id, as sysfs names the adapter's.
    const std::string busId = AdapterPciBusId(adapter.Get());
    KIV_NV_RETURN_UNLESS(!busId.empty(), CUresult(100)); // CUDA_ERROR_NO_DEVICE
    CUresult ec_ = CUDA_SUCCESS;
    KIV_NV_RETURN_UNLESS(CUDA_SUCCESS == (ec_ = (DeviceGetByPCIBusId(outCudaDevice, busId.c_str()))), ec_);
    return CUDA_SUCCESS;
}

Error DecoderInterface::fail(Error error) {
    KIV_NV_NVDEC_ENTRY_POINTS(KIV_NV_CLEAR_ENTRY)
    m_dll.close();
    return error;
}

Error DecoderInterface::load_() {
    if (isLoaded_())
        return Error::None;
    if (!Opened(m_dll, LibraryName, __PRETTY_FUNCTION__, __LINE__))
        return Error::DllNotFound;
    KIV_NV_NVDEC_ENTRY_POINTS(KIV_NV_BIND_ENTRY)
    return Error::None;
}

NV_ENC_BUFFER_FORMAT BufferFormatFromDxgi(DXGI_FORMAT format) {
    switch (format) {
    case DXGI_FORMAT_NV12:
        return NV_ENC_BUFFER_FORMAT_NV12;
    case DXGI_FORMAT_B8G8R8A8_UNORM:
        return NV_ENC_BUFFER_FORMAT_ARGB;
    case DXGI_FORMAT_R8G8B8A8_UNORM:
        return NV_ENC_BUFFER_FORMAT_ABGR;
    case DXGI_FORMAT_R10G10B10A2_UNORM:
        return NV_ENC_BUFFER_FORMAT_ABGR10;
    case DXGI_FORMAT_AYUV:
        return NV_ENC_BUFFER_FORMAT_AYUV;
    case DXGI_FORMAT_R8_UNORM:
        return NV_ENC_BUFFER_FORMAT_U8;
    default:
        return NV_ENC_BUFFER_FORMAT_UNDEFINED;
    }
}

HRESULT EncoderInputSampleInfo::FromMF(IMFSample* in, EncoderInputSampleInfo* out) {
    KIV_RETURN_UNLESS(in, E_POINTER);
    KIV_RETURN_UNLESS(out, E_POINTER);
    out->sample = in;
    UINT32 number = 0;
    out->streamNum =
        SUCCEEDED(in->GetUINT32(KIV_GUID_STREAMNUM, &number)) ? static_cast<std::int32_t>(number) : -1;
    out->frameNum =
        SUCCEEDED(in->GetUINT32(KIV_GUID_FRAMENUM, &number)) ? static_cast<std::int32_t>(number) : -1;
    LONGLONG time = 0;
    KIV_RETURN_IF_FAILED(in->GetSampleTime(&time));
    out->timestamp = time;
    KIV_RETURN_IF_FAILED(in->GetSampleDuration(&time));
    out->duration = time;
    DWORD bufferCount = 0;
    KIV_RETURN_IF_FAILED(in->GetBufferCount(&bufferCount));
    KIV_RETURN_UNLESS(1 == bufferCount, E_UNEXPECTED);
    ComPtr<IMFMediaBuffer> buffer;
    KIV_RETURN_IF_FAILED(in->GetBufferByIndex(0, &buffer));
    ComPtr<IMFDXGIBuffer> dxgiBuffer;
    KIV_RETURN_IF_FAILED(buffer->QueryInterface(IID_PPV_ARGS(&dxgiBuffer)));
    UINT subIndex = 0;
    KIV_RETURN_IF_FAILED(dxgiBuffer->GetSubresourceIndex(&subIndex));
    out->subIndex = subIndex;
    KIV_RETURN_IF_FAILED(dxgiBuffer->GetResource(IID_PPV_ARGS(out->texture.ReleaseAndGetAddressOf())));
    D3D11_TEXTURE2D_DESC desc{};
    out->texture->GetDesc(&desc);
    out->width = desc.Width;
    out->height = desc.Height;
    out->pitch = desc.Width;
    out->dxgiFormat = desc.Format;
    out->bufferFormat = BufferFormatFromDxgi(desc.Format);
    KIV_RETURN_UNLESS(desc.MipLevels == 1, E_UNEXPECTED);
    KIV_RETURN_UNLESS(desc.ArraySize == 1, E_UNEXPECTED);
    return S_OK;
}

HRESULT NvencToHresult(int status) {
    if (status == 0)
        return S_OK;
    const auto code = static_cast<std::uint32_t>(status);
    return static_cast<HRESULT>(code <= 25 ? 0xA55D2000u + code : 0xA55D2800u | (code & 0x7FF));
}

HRESULT CudaToHresult(CUresult result) {
    if (result == CUDA_SUCCESS)
        return S_OK;
    return static_cast<HRESULT>(0xA55D5800u | (static_cast<std::uint32_t>(result) & 0x7FF));
}

} // namespace kiv::nv
