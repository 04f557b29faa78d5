#pragma once
// The platform's H.264 and HEVC encoders on libavcodec: NV12 in, one access unit per output sample in input
// order (no B-frames), parameter sets before every key frame and on the current output type as
// MF_MT_MPEG_SEQUENCE_HEADER, key frames marked as clean points. The output type is set first; the input
// type then has its size and rate. Without MF_MT_AVG_BITRATE the encoder keeps a constant quality.
// Input pictures are read in place (texture-backed samples included) and carry their attributes, time and
// duration to the access unit made from them.

#include "EncodedOutput.h"
#include "EncoderProperties.h"
#include "TransformBase.h"
#include "VideoPicture.h"
#include "platform/av/VideoEncoder.h"
#include <codecapi.h>

#include <deque>
#include <memory>
#include <string>

class VideoEncoderTransform final : public TransformBase<ICodecAPI> {
public:
    // `codec` is av::Codec::H264 or av::Codec::Hevc; with a VA-API render node the encoding runs there.
    static HRESULT Create(av::Codec codec, IMFTransform** transform, const std::string& device = {});

    VideoEncoderTransform(av::Codec codec, std::string device)
        : m_codec(codec), m_device(std::move(device)), m_properties(codec == av::Codec::H264) {}

    // ICodecAPI
    HRESULT STDMETHODCALLTYPE IsSupported(const GUID* api) override;
    HRESULT STDMETHODCALLTYPE IsModifiable(const GUID* api) override;
    HRESULT STDMETHODCALLTYPE GetParameterRange(const GUID*, VARIANT*, VARIANT*, VARIANT*) override {
        return NotImplemented();
    }
    HRESULT STDMETHODCALLTYPE GetParameterValues(const GUID*, VARIANT**, ULONG*) override {
        return NotImplemented();
    }
    HRESULT STDMETHODCALLTYPE GetDefaultValue(const GUID* api, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetValue(const GUID* api, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE SetValue(const GUID* api, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE RegisterForEvent(const GUID*, LONG_PTR) override { return NotImplemented(); }
    HRESULT STDMETHODCALLTYPE UnregisterForEvent(const GUID*) override { return NotImplemented(); }
    HRESULT STDMETHODCALLTYPE SetAllDefaults() override;
    HRESULT STDMETHODCALLTYPE SetValueWithNotify(const GUID*, VARIANT*, GUID**, ULONG*) override {
        return NotImplemented();
    }
    HRESULT STDMETHODCALLTYPE SetAllDefaultsWithNotify(GUID**, ULONG*) override { return NotImplemented(); }
    HRESULT STDMETHODCALLTYPE GetAllSettings(IStream*) override { return NotImplemented(); }
    HRESULT STDMETHODCALLTYPE SetAllSettings(IStream*) override { return NotImplemented(); }
    HRESULT STDMETHODCALLTYPE SetAllSettingsWithNotify(IStream*, GUID**, ULONG*) override {
        return NotImplemented();
    }

protected:
    void DescribeInput(MFT_INPUT_STREAM_INFO& info) override;
    void DescribeOutput(MFT_OUTPUT_STREAM_INFO& info) override;
    HRESULT InputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) override;
    HRESULT OutputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) override;
    HRESULT CheckInputType(IMFMediaType* type) override;
    HRESULT CheckOutputType(IMFMediaType* type) override;
    void TypesChanged() override;
    HRESULT PublishedOutputType(ComPtr<IMFMediaType>& type) override;
    bool CanTakeInput() override { return m_output.empty() && !m_draining; }
    bool HasOutput() override { return !m_output.empty(); }
    HRESULT TakeInput(IMFSample* sample) override;
    HRESULT MakeOutput(MFT_OUTPUT_DATA_BUFFER& buffer) override;
    HRESULT Flush() override;
    HRESULT Drain() override;
    HRESULT BeginStreaming() override;

private:
    // What an access unit takes over from the picture it was made from.
    struct PendingFrame {
        std::int64_t pts = 0;
        ComPtr<IMFAttributes> attributes;
        bool hasTime = false;
        LONGLONG time = 0;
        LONGLONG duration = -1;
    };

    HRESULT Open();
    av::VideoEncoderSettings Settings();
    HRESULT Remember(IMFSample* sample, std::int64_t pts);
    HRESULT Collect();
    HRESULT MakeAccessUnit(const av::EncodedPacketView& packet, ComPtr<IMFSample>& sample);
    void Reset();
    const GUID& Subtype() const;

    const av::Codec m_codec;
    const std::string m_device;
    EncoderProperties m_properties;
    PictureFormat m_in;
    std::unique_ptr<av::VideoEncoder> m_encoder;
    // Pictures have gone into the encoder since it was opened: the settings are fixed until it closes.
    bool m_streaming = false;
    bool m_draining = false;
    std::int64_t m_nextPts = 0;
    std::deque<PendingFrame> m_pending;
    SampleQueue m_output;
};
