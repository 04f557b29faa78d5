#include "MfEncoderNvidiaBase.h"

#include "CodecReport.h"
#include "EncodedPacket.h"
#include "Exception.h"
#include "SampleAttributes.h"
#include "Util/Logger.h"
#include <debugapi.h>
#include <handleapi.h>
#include <intrin.h>
#include <mferror.h>
#include <processthreadsapi.h>
#include <synchapi.h>

#include <cstdio>
#include <cstring>

namespace kiv::mfcodec {

using nv::Cuda;
using nv::NvEnc;

namespace {

GUID PresetGuid(std::int8_t preset) {
    switch (preset) {
    case -3:
        return NV_ENC_PRESET_P1_GUID;
    case -2:
        return NV_ENC_PRESET_P2_GUID;
    case 0:
        return NV_ENC_PRESET_P4_GUID;
    case 1:
        return NV_ENC_PRESET_P5_GUID;
    case 2:
        return NV_ENC_PRESET_P6_GUID;
    case 3:
        return NV_ENC_PRESET_P7_GUID;
    default:
        return NV_ENC_PRESET_P3_GUID;
    }
}

NV_ENC_TUNING_INFO TuningInfo(std::uint8_t tuning) {
    switch (tuning) {
    case 1:
        return NV_ENC_TUNING_INFO_LOW_LATENCY;
    case 2:
        return NV_ENC_TUNING_INFO_HIGH_QUALITY;
    default:
        return NV_ENC_TUNING_INFO_ULTRA_LOW_LATENCY;
    }
}

// The encode GUID of a codec; GUID_NULL for AV1 where the headers predate it.
GUID EncodeGuid(EncoderNvidiaBase::Codec codec) {
    switch (codec) {
    case EncoderNvidiaBase::Codec::H264:
        return NV_ENC_CODEC_H264_GUID;
    case EncoderNvidiaBase::Codec::HEVC:
        return NV_ENC_CODEC_HEVC_GUID;
#if NVENCAPI_MAJOR_VERSION >= 12
    case EncoderNvidiaBase::Codec::AV1:
        return NV_ENC_CODEC_AV1_GUID;
#endif
    default:
        return GUID_NULL;
    }
}

// Bytes per row and rows of a picture as NVENC reads it from pitched memory; 0 for a format it cannot take.
std::size_t RowBytes(NV_ENC_BUFFER_FORMAT format, std::uint32_t width) {
    switch (format) {
    case NV_ENC_BUFFER_FORMAT_NV12:
    case NV_ENC_BUFFER_FORMAT_U8:
        return width;
    case NV_ENC_BUFFER_FORMAT_ARGB:
    case NV_ENC_BUFFER_FORMAT_ABGR:
    case NV_ENC_BUFFER_FORMAT_ABGR10:
    case NV_ENC_BUFFER_FORMAT_AYUV:
        return std::size_t(width) * 4;
    default:
        return 0;
    }
}

std::size_t Rows(NV_ENC_BUFFER_FORMAT format, std::uint32_t height) {
    return format == NV_ENC_BUFFER_FORMAT_NV12 ? height + height / 2 : height;
}

// The session's CUDA context is current on the calling thread while the scope lasts.
class CudaContextScope {
public:
    explicit CudaContextScope(CUcontext context) : m_result(Cuda.CtxPushCurrent_v2(context)) {}
    ~CudaContextScope() {
        if (m_result == CUDA_SUCCESS)
            Cuda.CtxPopCurrent_v2(nullptr);
    }
    CudaContextScope(const CudaContextScope&) = delete;
    CudaContextScope& operator=(const CudaContextScope&) = delete;
    CUresult result() const { return m_result; }

private:
    CUresult m_result;
};

} // namespace

#define KIV_RETURN_IF_NVENC_FAILED(call) KIV_RETURN_IF_FAILED(::kiv::nv::NvencToHresult(call))
#define KIV_RETURN_IF_CUDA_FAILED(call) KIV_RETURN_IF_FAILED(::kiv::nv::CudaToHresult(call))

EncoderNvidiaBase::EncoderNvidiaBase(const RegistrationInfo& regInfo, const CtorOpts& ctorOpts,
                                     const EncoderQuery& extOpts)
    : Base(regInfo), m_ctorOpts(ctorOpts), m_extOpts(extOpts) {
    KIV_THROW_UNLESS(m_ctorOpts.codec != Codec::INVALID);
    KIV_THROW_UNLESS(EncodeGuid(m_ctorOpts.codec) != GUID_NULL);
    KIV_THROW_UNLESS(m_extOpts.deviceVendor == +VendorId::Nvidia);
    KIV_THROW_UNLESS(NvEnc.load_() == nv::Error::None);
    // The Linux session runs on a CUDA context.
    KIV_THROW_UNLESS(Cuda.load_() == nv::Error::None);
    // A GPU without an encoder is refused here, so that the search offers the next encoder instead of one
    // that fails when streaming begins. Without a device the session's opening tells.
    KIV_THROW_UNLESS(m_extOpts.device == nullptr || GpuEncodes(m_extOpts.device));
    if (m_extOpts.speedQualityPreset < 0) {
        m_ctorOpts.preset = -3;
        m_ctorOpts.tuning = 0;
    } else if (m_extOpts.speedQualityPreset > 0) {
        m_ctorOpts.preset = 0;
        m_ctorOpts.tuning = 1;
    }
    if (m_extOpts.longGop == 1 && m_extOpts.unboundedGop == 1)
        m_ctorOpts.gopLength = NVENC_INFINITE_GOPLENGTH;
}

EncoderNvidiaBase::~EncoderNvidiaBase() { cleanup(); }

void EncoderNvidiaBase::onCodecConfig(NV_ENC_CODEC_CONFIG&) {}

bool EncoderNvidiaBase::GpuEncodes(ID3D11Device* device) {
    CUdevice cudaDevice = 0;
    CUcontext context = nullptr;
    if (Cuda.getDevice_(device, &cudaDevice) != CUDA_SUCCESS ||
        Cuda.CtxCreate_v2(&context, 0, cudaDevice) != CUDA_SUCCESS)
        return false;
    NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS params{};
    params.version = NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS_VER;
    params.deviceType = NV_ENC_DEVICE_TYPE_CUDA;
    params.device = context;
    params.apiVersion = NVENCAPI_VERSION;
    void* session = nullptr;
    const bool opened = NvEnc.OpenEncodeSessionEx(&params, &session) == NV_ENC_SUCCESS;
    if (opened)
        NvEnc.DestroyEncoder(session);
    Cuda.CtxPopCurrent_v2(nullptr);
    Cuda.CtxDestroy_v2(context);
    return opened;
}

HRESULT EncoderNvidiaBase::openCudaContext() {
    CUdevice cudaDevice = 0;
    KIV_RETURN_IF_CUDA_FAILED(Cuda.getDevice_(device(), &cudaDevice));
    KIV_ASSERT(m_cudaContext == nullptr);
    // Created current on this thread; the stream belongs to it.
    KIV_RETURN_IF_CUDA_FAILED(Cuda.CtxCreate_v2(&m_cudaContext, 0, cudaDevice));
    const CUresult streamCreated = Cuda.StreamCreate(&m_cudaStream, 0);
    Cuda.CtxPopCurrent_v2(nullptr);
    KIV_RETURN_IF_CUDA_FAILED(streamCreated);
    return S_OK;
}

HRESULT EncoderNvidiaBase::onBeginStreaming() {
    KIV_ASSERT(NvEnc.isLoaded_());
    KIV_ASSERT(canInitialize());
    KIV_RETURN_IF_FAILED(getVideoSpecs(&m_streamSpecs, nullptr));
    using Bits = StreamSpecs::Bits;
    KIV_RETURN_UNLESS((m_streamSpecs.present & Bits::srcRes) && (m_streamSpecs.present & Bits::srcFps) &&
                          (m_streamSpecs.present & Bits::tgtBps),
                      MF_E_ATTRIBUTENOTFOUND);
    KIV_ASSERT(!m_encoder);
    KIV_RETURN_IF_FAILED(openCudaContext());

    NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS encSessParams{};
    encSessParams.version = NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS_VER;
    encSessParams.deviceType = NV_ENC_DEVICE_TYPE_CUDA;
    encSessParams.device = m_cudaContext;
    encSessParams.apiVersion = NVENCAPI_VERSION;
    KIV_RETURN_IF_NVENC_FAILED(NvEnc.OpenEncodeSessionEx(&encSessParams, &m_encoder));

    const GUID encodeGuid = EncodeGuid(m_ctorOpts.codec);
    const GUID presetGuid = PresetGuid(m_ctorOpts.preset);
    const NV_ENC_TUNING_INFO tuningInfo = TuningInfo(m_ctorOpts.tuning);
    m_presetConfig = {};
    m_presetConfig.version = NV_ENC_PRESET_CONFIG_VER;
    m_presetConfig.presetCfg.version = NV_ENC_CONFIG_VER;
    KIV_RETURN_IF_NVENC_FAILED(
        NvEnc.GetEncodePresetConfigEx(m_encoder, encodeGuid, presetGuid, tuningInfo, &m_presetConfig));
    NV_ENC_CONFIG& config = m_presetConfig.presetCfg;
    config.gopLength = m_ctorOpts.gopLength;
    config.rcParams.version = NV_ENC_RC_PARAMS_VER;
    config.rcParams.rateControlMode = NV_ENC_PARAMS_RC_CBR;
    config.rcParams.averageBitRate = config.rcParams.maxBitRate = m_streamSpecs.tgtBpsAvg;
    onCodecConfig(config.encodeCodecConfig);

    m_initParams = {};
    m_initParams.version = NV_ENC_INITIALIZE_PARAMS_VER;
    m_initParams.encodeGUID = encodeGuid;
    m_initParams.presetGUID = presetGuid;
    m_initParams.encodeWidth = m_streamSpecs.srcWidth;
    m_initParams.encodeHeight = m_streamSpecs.srcHeight;
    m_initParams.frameRateNum = m_streamSpecs.srcFpsNum;
    m_initParams.frameRateDen = m_streamSpecs.srcFpsDen;
    // Linux has no asynchronous mode: EncodePicture returns with the picture done.
    m_initParams.enableEncodeAsync = 0;
    m_initParams.enablePTD = 1;
    m_initParams.encodeConfig = &config;
    m_initParams.maxEncodeWidth = m_ctorOpts.maxEncodeWidth;
    m_initParams.maxEncodeHeight = m_ctorOpts.maxEncodeHeight;
    m_initParams.tuningInfo = tuningInfo;
    KIV_RETURN_IF_NVENC_FAILED(NvEnc.InitializeEncoder(m_encoder, &m_initParams));

    KIV_ASSERT(m_outputReadyEvent == nullptr);
    m_outputReadyEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    KIV_RETURN_UNLESS(m_outputReadyEvent, HRESULT_FROM_WIN32(GetLastError()));

    KIV_ASSERT(m_outputBitstream == nullptr);
    NV_ENC_CREATE_BITSTREAM_BUFFER bitstreamParams{};
    bitstreamParams.version = NV_ENC_CREATE_BITSTREAM_BUFFER_VER;
    KIV_RETURN_IF_NVENC_FAILED(NvEnc.CreateBitstreamBuffer(m_encoder, &bitstreamParams));
    m_outputBitstream = bitstreamParams.bitstreamBuffer;
    KIV_ASSERT(m_outputBitstream);

    m_stop.exchange(false);
    m_eventThread = std::thread(&EncoderNvidiaBase::eventThread, this);
    return S_OK;
}

void EncoderNvidiaBase::eventThread() {
    SetThreadDescription(GetCurrentThread(), m_regInfo.friendlyName);
    KIV_ASSERT(m_outputReadyEvent);
    for (;;) {
        if (WaitForSingleObject(m_outputReadyEvent, INFINITE) != WAIT_OBJECT_0)
            ReportAssertion("WaitForSingleObject( m_outputReadyEvent, INFINITE ) == WAIT_OBJECT_0",
                            __PRETTY_FUNCTION__, __LINE__);
        if (m_stop.load())
            return;
        signalHaveOutput();
    }
}

HRESULT EncoderNvidiaBase::registerTexture(const nv::EncoderInputSampleInfo& params,
                                           RegisteredTexture& entry) {
    const std::size_t rowBytes = RowBytes(params.bufferFormat, params.width);
    KIV_RETURN_UNLESS(rowBytes != 0, MF_E_INVALIDMEDIATYPE);
    D3D11_TEXTURE2D_DESC desc{};
    params.texture->GetDesc(&desc);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    ComPtr<ID3D11Texture2D> staging;
    KIV_RETURN_IF_FAILED(device()->CreateTexture2D(&desc, nullptr, &staging));
    CUdeviceptr memory = 0;
    std::size_t pitch = 0;
    {
        const CudaContextScope scope(m_cudaContext);
        KIV_RETURN_IF_CUDA_FAILED(scope.result());
        KIV_RETURN_IF_CUDA_FAILED(
            Cuda.MemAllocPitch_v2(&memory, &pitch, rowBytes, Rows(params.bufferFormat, params.height), 4));
    }
    NV_ENC_REGISTER_RESOURCE registerParams{};
    registerParams.version = NV_ENC_REGISTER_RESOURCE_VER;
    registerParams.resourceType = NV_ENC_INPUT_RESOURCE_TYPE_CUDADEVICEPTR;
    registerParams.width = params.width;
    registerParams.height = params.height;
    registerParams.pitch = static_cast<std::uint32_t>(pitch);
    registerParams.resourceToRegister = reinterpret_cast<void*>(memory);
    registerParams.bufferFormat = params.bufferFormat;
    registerParams.bufferUsage = NV_ENC_INPUT_IMAGE;
    const HRESULT hr = nv::NvencToHresult(NvEnc.RegisterResource(m_encoder, &registerParams));
    if (FAILED(hr)) {
        const CudaContextScope scope(m_cudaContext);
        Cuda.MemFree_v2(memory);
        return ReportFailedCall(
            hr, "::kiv::nv::NvencToHresult(NvEnc.RegisterResource( m_encoder, &registerParams ))",
            __PRETTY_FUNCTION__, __LINE__);
    }
    KIV_ASSERT(registerParams.registeredResource);
    entry = {params.texture, staging, memory, pitch, registerParams.registeredResource};
    return S_OK;
}

HRESULT EncoderNvidiaBase::uploadTexture(const nv::EncoderInputSampleInfo& params, RegisteredTexture& entry) {
    ComPtr<ID3D11DeviceContext> context;
    device()->GetImmediateContext(&context);
    KIV_RETURN_UNLESS(context, E_UNEXPECTED);
    context->CopySubresourceRegion(entry.staging.Get(), 0, 0, 0, 0, params.texture.Get(), params.subIndex,
                                   nullptr);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    KIV_RETURN_IF_FAILED(context->Map(entry.staging.Get(), 0, D3D11_MAP_READ, 0, &mapped));
    CUDA_MEMCPY2D copy{};
    copy.srcMemoryType = CU_MEMORYTYPE_HOST;
    copy.srcHost = mapped.pData;
    copy.srcPitch = mapped.RowPitch;
    copy.dstMemoryType = CU_MEMORYTYPE_DEVICE;
    copy.dstDevice = entry.memory;
    copy.dstPitch = entry.pitch;
    copy.WidthInBytes = RowBytes(params.bufferFormat, params.width);
    copy.Height = Rows(params.bufferFormat, params.height);
    CUresult result = CUDA_SUCCESS;
    {
        const CudaContextScope scope(m_cudaContext);
        result = scope.result();
        if (result == CUDA_SUCCESS)
            result = Cuda.Memcpy2DAsync_v2(&copy, m_cudaStream);
        // The staging bytes are read only until the copy is done.
        if (result == CUDA_SUCCESS)
            result = Cuda.StreamSynchronize(m_cudaStream);
    }
    context->Unmap(entry.staging.Get(), 0);
    KIV_RETURN_IF_CUDA_FAILED(result);
    return S_OK;
}

HRESULT EncoderNvidiaBase::onInputArrived(IMFSample* sample) {
    KIV_ASSERT(NvEnc.isLoaded_());
    KIV_ASSERT(m_encoder);
    KIV_ASSERT(sample);
    m_tsInputArrived = __rdtsc();
    nv::EncoderInputSampleInfo params;
    KIV_RETURN_IF_FAILED(nv::EncoderInputSampleInfo::FromMF(sample, &params));
    m_lastStreamIndex = params.streamNum;
    RegisteredTexture& entry = m_registeredTextures[params.texture.Get()];
    if (entry.registration == nullptr)
        KIV_RETURN_IF_FAILED(registerTexture(params, entry));
    KIV_RETURN_IF_FAILED(uploadTexture(params, entry));

    NV_ENC_MAP_INPUT_RESOURCE mapParams{};
    mapParams.version = NV_ENC_MAP_INPUT_RESOURCE_VER;
    mapParams.registeredResource = entry.registration;
    KIV_RETURN_IF_NVENC_FAILED(NvEnc.MapInputResource(m_encoder, &mapParams));
    m_mappedInput = mapParams.mappedResource;
    KIV_ASSERT(m_mappedInput);

    const bool forceIdr = m_forceIdr.exchange(false);
    NV_ENC_PIC_PARAMS picParams{};
    picParams.version = NV_ENC_PIC_PARAMS_VER;
    picParams.inputWidth = params.width;
    picParams.inputHeight = params.height;
    picParams.inputPitch = params.pitch;
    picParams.encodePicFlags = forceIdr ? NV_ENC_PIC_FLAG_FORCEIDR : 0;
    picParams.frameIdx = static_cast<std::uint32_t>(params.frameNum);
    picParams.inputTimeStamp = static_cast<std::uint64_t>(params.timestamp);
    picParams.inputDuration = static_cast<std::uint64_t>(params.duration);
    picParams.inputBuffer = m_mappedInput;
    picParams.outputBitstream = m_outputBitstream;
    picParams.completionEvent = nullptr; // none on Linux: the transform signals its own below
    picParams.bufferFmt = mapParams.mappedBufferFmt;
    picParams.pictureStruct = NV_ENC_PIC_STRUCT_FRAME;
    picParams.pictureType = static_cast<NV_ENC_PIC_TYPE>(0xFF);
    if (const HRESULT hr = nv::NvencToHresult(NvEnc.EncodePicture(m_encoder, &picParams)); FAILED(hr)) {
        // No output will come for this input: its mapping ends here, not with the next frame's.
        NvEnc.UnmapInputResource(m_encoder, m_mappedInput);
        m_mappedInput = nullptr;
        return ReportFailedCall(hr, "::kiv::nv::NvencToHresult(NvEnc.EncodePicture( m_encoder, &picParams ))",
                                __PRETTY_FUNCTION__, __LINE__);
    }
    KIV_RETURN_UNLESS(SetEvent(m_outputReadyEvent), HRESULT_FROM_WIN32(GetLastError()));
    m_tsSubmitted = __rdtsc();
    return S_OK;
}

HRESULT EncoderNvidiaBase::copyOutput(const NV_ENC_LOCK_BITSTREAM& lockParams, MFT_OUTPUT_DATA_BUFFER& out) {
    return WrapEncodedPacket(
        lockParams.bitstreamBufferPtr, lockParams.bitstreamSizeInBytes,
        static_cast<LONGLONG>(lockParams.outputTimeStamp), static_cast<LONGLONG>(lockParams.outputDuration),
        lockParams.pictureType == NV_ENC_PIC_TYPE_IDR, m_lastStreamIndex, lockParams.frameIdx, &out.pSample);
}

HRESULT EncoderNvidiaBase::onOutputRequested(MFT_OUTPUT_DATA_BUFFER& dataBuffer) {
    KIV_ASSERT(NvEnc.isLoaded_());
    KIV_ASSERT(dataBuffer.dwStreamID == 0);
    KIV_ASSERT(dataBuffer.pSample == nullptr);
    m_tsLockStarted = __rdtsc();
    NV_ENC_LOCK_BITSTREAM lockParams{};
    lockParams.version = NV_ENC_LOCK_BITSTREAM_VER;
    lockParams.outputBitstream = m_outputBitstream;
    lockParams.doNotWait = 0;
    KIV_RETURN_IF_NVENC_FAILED(NvEnc.LockBitstream(m_encoder, &lockParams));
    // The frame's lock and mapping end whether or not its copy succeeds, so that the session stays usable
    // and its clean-up unregisters nothing mapped.
    const HRESULT copied = copyOutput(lockParams, dataBuffer);
    const HRESULT unlocked = nv::NvencToHresult(NvEnc.UnlockBitstream(m_encoder, m_outputBitstream));
    const HRESULT unmapped = nv::NvencToHresult(NvEnc.UnmapInputResource(m_encoder, m_mappedInput));
    m_mappedInput = nullptr;
    if (FAILED(copied)) {
        if (dataBuffer.pSample != nullptr) {
            dataBuffer.pSample->Release();
            dataBuffer.pSample = nullptr;
        }
        return copied;
    }
    KIV_RETURN_IF_FAILED(unlocked);
    KIV_RETURN_IF_FAILED(unmapped);
    KIV_RETURN_IF_FAILED(signalNeedInput());
    m_tsDone = __rdtsc();
    if (m_ctorOpts.timingLog != 0) {
        char text[200];
        std::snprintf(
            text, sizeof(text),
            "[NvEnc-%s] Frame done (%ux%u, stream:%d, frame:%d)): all=%8.1fus (init+fin=%8.1f+%8.1f on "
            "CPU + wait=%8.1f on GPU)\n",
            CodecName(m_ctorOpts.codec), m_streamSpecs.srcWidth, m_streamSpecs.srcHeight, m_lastStreamIndex,
            static_cast<int>(lockParams.frameIdx), TscTicksToMicroseconds(m_tsDone - m_tsInputArrived),
            TscTicksToMicroseconds(m_tsSubmitted - m_tsInputArrived),
            TscTicksToMicroseconds(m_tsDone - m_tsLockStarted),
            TscTicksToMicroseconds(m_tsLockStarted - m_tsSubmitted));
        OutputDebugStringA(text);
    }
    return S_OK;
}

HRESULT EncoderNvidiaBase::onSpecsChanged(bool, bool) {
    KIV_ASSERT(NvEnc.isLoaded_());
    if (!m_encoder)
        return S_OK;
    StreamSpecs newSpecs = m_streamSpecs;
    KIV_RETURN_IF_FAILED(getVideoSpecs(&newSpecs, &m_streamSpecs));
    if (newSpecs.changed == 0)
        return S_OK;
    m_streamSpecs = newSpecs;
    m_initParams.encodeWidth = m_streamSpecs.srcWidth;
    m_initParams.encodeHeight = m_streamSpecs.srcHeight;
    m_initParams.darWidth = m_initParams.darHeight = 0;
    m_initParams.frameRateNum = m_streamSpecs.srcFpsNum;
    m_initParams.frameRateDen = m_streamSpecs.srcFpsDen;
    NV_ENC_RC_PARAMS& rcParams = m_presetConfig.presetCfg.rcParams;
    rcParams.averageBitRate = rcParams.maxBitRate = m_streamSpecs.tgtBpsAvg;
    NV_ENC_RECONFIGURE_PARAMS reconfigParams{};
    reconfigParams.version = NV_ENC_RECONFIGURE_PARAMS_VER;
    reconfigParams.reInitEncodeParams = m_initParams;
    reconfigParams.resetEncoder = 0;
    reconfigParams.forceIDR = 0;
    KIV_RETURN_IF_NVENC_FAILED(NvEnc.ReconfigureEncoder(m_encoder, &reconfigParams));
    return S_OK;
}

HRESULT EncoderNvidiaBase::onForceKeyFrame() {
    m_forceIdr.store(true);
    return S_OK;
}

HRESULT EncoderNvidiaBase::onDeviceRefClearing() {
    cleanup();
    return S_OK;
}

void EncoderNvidiaBase::cleanup() {
    KIV_ASSERT(!m_encoder || NvEnc.isLoaded_());
    m_stop.exchange(true);
    if (m_eventThread.joinable()) {
        if (m_outputReadyEvent != nullptr) {
            SetEvent(m_outputReadyEvent);
            m_eventThread.join();
        } else {
            m_eventThread.detach();
            LogError("Couldn't join event thread in %s", "kiv::mfcodec::EncoderNvidiaBase::cleanup");
        }
    }
    m_stop.exchange(false);
    if (m_encoder) {
        if (m_mappedInput != nullptr)
            NvEnc.UnmapInputResource(m_encoder, m_mappedInput);
        for (auto& [texture, entry] : m_registeredTextures)
            if (entry.registration != nullptr)
                NvEnc.UnregisterResource(m_encoder, entry.registration);
        if (m_outputBitstream != nullptr)
            NvEnc.DestroyBitstreamBuffer(m_encoder, m_outputBitstream);
        NvEnc.DestroyEncoder(m_encoder);
    }
    if (m_outputReadyEvent != nullptr)
        CloseHandle(m_outputReadyEvent);
    if (m_cudaContext != nullptr) {
        const CudaContextScope scope(m_cudaContext);
        for (auto& [texture, entry] : m_registeredTextures)
            if (entry.memory != 0)
                Cuda.MemFree_v2(entry.memory);
        if (m_cudaStream != nullptr)
            Cuda.StreamDestroy_v2(m_cudaStream);
    }
    if (m_cudaContext != nullptr)
        Cuda.CtxDestroy_v2(m_cudaContext);
    m_encoder = nullptr;
    m_mappedInput = nullptr;
    m_outputBitstream = nullptr;
    m_outputReadyEvent = nullptr;
    m_cudaStream = nullptr;
    m_cudaContext = nullptr;
    m_registeredTextures.clear();
}

} // namespace kiv::mfcodec
