#pragma once
// The codec transform that decodes H.264 or HEVC into an NV12 Direct3D 11 texture with NVDEC. Compressed
// samples go to the NVDEC parser, whose callbacks create the decoder on the first sequence header, decode
// pictures and, for each picture due for display, copy it into the one output texture. On Linux the copy goes
// device to host, through a staging texture, and the stream is synchronised before have-output is signalled,
// so the texture holds the finished picture when the output is taken. One texture is enough: a displayed
// picture's have-output is queued before the need-input of its sample, so the output is taken before the next
// picture can be displayed.

#include "EncoderQuery.h"
#include "MfCodecBase.h"
#include "MfEncoderNvidiaBase.h"
#include "MfHelperNvidia.h"

#include <cstdint>

namespace kiv::mfcodec {

class DecoderNvidiaBase : public Base {
public:
    using Codec = EncoderNvidiaBase::Codec;
    using VendorId = EncoderNvidiaBase::VendorId;

    struct CtorOpts {
        Codec codec = Codec::INVALID;
        std::uint8_t displayDelay = 0;
        std::uint8_t timingLog = 0;
        std::uint32_t maxWidth = 0;
        std::uint32_t maxHeight = 0;
    };

    // Throws kiv::mfcodec::Exception when the query is not for an NVIDIA adapter or a runtime cannot be
    // loaded.
    DecoderNvidiaBase(const RegistrationInfo& regInfo, const CtorOpts& ctorOpts, const EncoderQuery& extOpts);

    // The parser's display delay after the query's preset.
    std::uint8_t displayDelay() const { return m_ctorOpts.displayDelay; }

protected:
    ~DecoderNvidiaBase() override;

    HRESULT onDeviceRefClearing() override;
    HRESULT onSpecsChanged(bool inputChanged, bool outputChanged) override;
    HRESULT onBeginStreaming() override;
    HRESULT onInputArrived(IMFSample* sample) override;
    HRESULT onOutputRequested(MFT_OUTPUT_DATA_BUFFER& out) override;

private:
    static int CUDAAPI Callback_Sequence(void* self, CUVIDEOFORMAT* format);
    static int CUDAAPI Callback_Decode(void* self, CUVIDPICPARAMS* picture);
    static int CUDAAPI Callback_Display(void* self, CUVIDPARSERDISPINFO* display);
    int onSequence(CUVIDEOFORMAT* format);
    int onDecode(CUVIDPICPARAMS* picture);
    int onDisplay(CUVIDPARSERDISPINFO* display);
    HRESULT createOutputTextures();
    // Copies the mapped picture into the staging texture and waits for the copies; a CUDA status.
    CUresult copyPicture(CUdeviceptr picture, unsigned int pitch, const D3D11_MAPPED_SUBRESOURCE& mapped);
    void cleanup();

    CUdevice m_device = -1;
    CUcontext m_context = nullptr;
    CUvideoctxlock m_ctxLock = nullptr;
    CUstream m_stream = nullptr;
    CUvideoparser m_parser = nullptr;
    CUvideodecoder m_decoder = nullptr;
    ComPtr<ID3D11DeviceContext> m_immediateContext;
    ComPtr<ID3D11Texture2D> m_d3dTexOut;
    ComPtr<ID3D11Texture2D> m_staging; // what the pictures are copied into, then copied into m_d3dTexOut
    std::uint32_t m_textureWidth = 0;
    std::uint32_t m_textureHeight = 0;
    std::int64_t m_lastTimestamp = 0;
    std::int64_t m_lastDuration = 0;
    std::int32_t m_lastStreamNum = -1;
    std::int32_t m_lastFrameNum = -1;
    std::uint32_t m_displayWidth = 0;
    std::uint32_t m_displayHeight = 0;
    StreamSpecs m_streamSpecs;
    CtorOpts m_ctorOpts;
    EncoderQuery m_extOpts;
    std::uint64_t m_tsDecodeStart = 0;
    std::uint64_t m_tsDisplayStart = 0;
    std::uint64_t m_tsMapped = 0;
    std::uint64_t m_tsCopied = 0;
    std::uint64_t m_tsOutput = 0;
    std::uint32_t m_pictureCount = 0;
};

} // namespace kiv::mfcodec
