#pragma once
// The AMF encoder that both AMD encoder transforms drive: a context on the runtime's own Vulkan device (the
// Linux path; there is no Direct3D 11 interop), the encoder component, a worker thread that pulls finished
// bitstreams out of it while Media Foundation submits frames, and the one bitstream waiting to be taken.
// Frames reach the encoder as host-memory surfaces filled from the input textures through a staging copy.
// One frame is in flight: the transform asks for the next input only after the output was taken.

#include "MfHelperAmd.h"
#include "StreamSpecs.h"
#include "TextureReadback.h"
#include <d3d11.h>
#include <mftransform.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kiv::mfcodec {

class AmdEncoderSession {
public:
    // The codec's names of what the session uses.
    struct Names {
        const wchar_t* component;
        const wchar_t* queryTimeout;
        const wchar_t* forcePictureType;
        const wchar_t* outputDataType;
        const wchar_t* outputBufferType;
        const wchar_t* frameRate;
        const wchar_t* targetBitrate;
        const wchar_t* peakBitrate; // null where the codec sets none
    };
    using Property = std::pair<const wchar_t*, amf::AMFVariantStruct>;

    // The surface format of a source subtype; AMF_SURFACE_UNKNOWN for one AMF does not take.
    static amf::AMF_SURFACE_FORMAT SurfaceFormat(const GUID& subtype);
    static constexpr double kPeakToAvgBitrateRatio = 1.5;
    static std::int64_t PeakBitrate(std::uint32_t average);

    // Whether the runtime makes the encoder component on a context of its own: false on a GPU without that
    // encoder, whose sessions would fail at every streaming start.
    static bool ComponentAvailable(amf::AMFFactory* factory, const wchar_t* component);

    explicit AmdEncoderSession(const Names& names) : m_names(names) {}
    AmdEncoderSession(const AmdEncoderSession&) = delete;
    AmdEncoderSession& operator=(const AmdEncoderSession&) = delete;
    ~AmdEncoderSession();

    // Checks the specs, creates the context and the encoder on `factory`, sets `properties` in order
    // (stopping at the first failure), initialises the encoder for the source and starts the worker, which
    // calls `outputReady` for each bitstream it stores. What was created stays until close() after a failure.
    HRESULT open(amf::AMFFactory* factory, ID3D11Device* device, const StreamSpecs& specs,
                 const std::vector<Property>& properties, const wchar_t* threadName,
                 std::function<void()> outputReady);
    bool isOpen() const { return static_cast<bool>(m_encoder); }
    HRESULT setProperty(const wchar_t* name, const amf::AMFVariantStruct& value);
    // Passes a changed frame rate or bit rate on; a new size is not taken while streaming.
    HRESULT reconfigure(const StreamSpecs& specs);
    // Copies the sample's texture into a host surface and submits it, with its time, its numbers and, when
    // asked, a forced IDR picture.
    HRESULT submit(IMFSample* sample, bool forceKeyFrame);
    // Turns the stored bitstream into the output sample; MF_E_TRANSFORM_NEED_MORE_INPUT when none is stored.
    HRESULT takeOutput(MFT_OUTPUT_DATA_BUFFER& dataBuffer);
    // Joins the worker, then terminates and releases the encoder and the context.
    void close();

private:
    void worker(std::wstring threadName);
    HRESULT upload(ID3D11Texture2D* texture, UINT subresource,
                   amf::AMFInterfacePtr<amf::AMFSurface>& surface);
    HRESULT copyOutput(amf::AMFData* amfData, MFT_OUTPUT_DATA_BUFFER& dataBuffer);

    const Names m_names;
    amf::AMFInterfacePtr<amf::AMFContext1> m_context;
    amf::AMFInterfacePtr<amf::AMFComponent> m_encoder;
    std::mutex m_outputMutex;
    amf::AMFInterfacePtr<amf::AMFData> m_output; // under m_outputMutex
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    std::function<void()> m_outputReady;
    ComPtr<ID3D11Device> m_device;
    TextureReadback m_readback;
    amf::AMF_SURFACE_FORMAT m_format = amf::AMF_SURFACE_UNKNOWN;
    UINT32 m_width = 0;
    UINT32 m_height = 0;
};

} // namespace kiv::mfcodec
