#pragma once
// The codec transform that encodes Direct3D 11 frames to H.264 or HEVC with NVENC. On Linux the session runs
// on a CUDA context of the GPU behind the transform's adapter: each distinct input texture gets one pitched
// CUDA buffer, registered with the encoder once and filled from the texture every frame. The runtime has no
// completion events here, so the transform signals its own output-ready event once EncodePicture returns;
// the event thread turns it into have-output and the output request locks and copies the bitstream.
// Exactly one frame is in flight: the next input is asked for only after the output has been unlocked.

#include "EncoderQuery.h"
#include "MfCodecBase.h"
#include "MfHelperNvidia.h"
#include "TransformCodec.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <unordered_map>

namespace kiv::mfcodec {

class EncoderNvidiaBase : public Base {
public:
    using Codec = TransformCodec;

    struct CtorOpts {
        Codec codec = Codec::INVALID;
        std::int8_t preset = 0;  // -3 fastest (P1) to 3 best (P7)
        std::uint8_t tuning = 0; // 0 ultra-low latency, 1 low latency, 2 high quality
        std::uint8_t timingLog = 0;
        std::uint32_t gopLength = 0;
        std::uint32_t maxEncodeWidth = 0;
        std::uint32_t maxEncodeHeight = 0;
    };
    static_assert(sizeof(CtorOpts) == 16);

    struct VendorId {
        static constexpr UINT32 Nvidia = 0x10DE;
    };

    static const char* CodecName(Codec codec) { return TransformCodecName(codec); }

    // Throws kiv::mfcodec::Exception when the query is not for an NVIDIA adapter or a runtime cannot be
    // loaded.
    EncoderNvidiaBase(const RegistrationInfo& regInfo, const CtorOpts& ctorOpts, const EncoderQuery& extOpts);

protected:
    ~EncoderNvidiaBase() override;

    HRESULT onDeviceRefClearing() override;
    HRESULT onSpecsChanged(bool inputChanged, bool outputChanged) override;
    HRESULT onBeginStreaming() override;
    HRESULT onInputArrived(IMFSample* sample) override;
    HRESULT onOutputRequested(MFT_OUTPUT_DATA_BUFFER& out) override;
    HRESULT onForceKeyFrame() override;
    // The codec's own settings, on the configuration the preset gave.
    virtual void onCodecConfig(NV_ENC_CODEC_CONFIG& config);

private:
    // One input texture as the encoder sees it: the CUDA copy it is filled into, and the staging texture
    // through which its bytes are read.
    struct RegisteredTexture {
        ComPtr<ID3D11Texture2D> texture; // held, so that its address names no other texture meanwhile
        ComPtr<ID3D11Texture2D> staging;
        CUdeviceptr memory = 0;
        std::size_t pitch = 0;
        NV_ENC_REGISTERED_PTR registration = nullptr;
    };

    // Whether NVENC opens a session on the GPU behind `device` (data-centre GPUs have NVDEC but no NVENC).
    static bool GpuEncodes(ID3D11Device* device);
    HRESULT openCudaContext();
    HRESULT registerTexture(const nv::EncoderInputSampleInfo& params, RegisteredTexture& entry);
    HRESULT uploadTexture(const nv::EncoderInputSampleInfo& params, RegisteredTexture& entry);
    HRESULT copyOutput(const NV_ENC_LOCK_BITSTREAM& lockParams, MFT_OUTPUT_DATA_BUFFER& out);
    void eventThread();
    void cleanup();

    void* m_encoder = nullptr;
    std::atomic<bool> m_forceIdr{false}; // set by SetValue on the caller's thread
    std::thread m_eventThread;
    std::atomic<bool> m_stop{false};
    HANDLE m_outputReadyEvent = nullptr;
    std::int32_t m_lastStreamIndex = 0;
    NV_ENC_OUTPUT_PTR m_outputBitstream = nullptr;
    NV_ENC_INPUT_PTR m_mappedInput = nullptr;
    std::unordered_map<ID3D11Texture2D*, RegisteredTexture> m_registeredTextures;
    std::uint64_t m_tsInputArrived = 0;
    std::uint64_t m_tsSubmitted = 0;
    std::uint64_t m_tsLockStarted = 0;
    std::uint64_t m_tsDone = 0;
    StreamSpecs m_streamSpecs;
    NV_ENC_PRESET_CONFIG m_presetConfig{};
    NV_ENC_INITIALIZE_PARAMS m_initParams{};
    CtorOpts m_ctorOpts;
    EncoderQuery m_extOpts;
    CUcontext m_cudaContext = nullptr;
    CUstream m_cudaStream = nullptr;
};

} // namespace kiv::mfcodec
