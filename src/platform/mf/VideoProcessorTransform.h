#pragma once
// The platform's video processor (CLSID_VideoProcessorMFT): BGRA (MFVideoFormat_ARGB32) pictures to NV12 or
// BGRA, scaled to the output size (or to a destination rectangle inside it, black around) with the picture's
// aspect kept, and turned upright on request. Pictures are read and written in place; with a device manager
// the output samples are textures of its device.
// Frames pass one for one with their times: the output frame rate must equal the input's unless
// MF_XVP_DISABLE_FRC is set, since no frames are made up or dropped.

#include "TransformBase.h"
#include "VideoPicture.h"
#include "VideoSamplePool.h"
#include "platform/yuv/FrameConverter.h"
#include <mfidl.h>

class VideoProcessorTransform final : public TransformBase<IMFVideoProcessorControl> {
public:
    static HRESULT Create(IMFTransform** transform);

    // IMFVideoProcessorControl: the rotation and the destination rectangle are offered; borders are black.
    HRESULT STDMETHODCALLTYPE SetBorderColor(MFARGB*) override { return NotImplemented(); }
    HRESULT STDMETHODCALLTYPE SetSourceRectangle(RECT*) override { return NotImplemented(); }
    // E_INVALIDARG for an empty rectangle or one left of or above the output; one that does not fit the
    // output type (or, for NV12, starts or ends on an odd pixel) makes processing fail.
    HRESULT STDMETHODCALLTYPE SetDestinationRectangle(RECT* rect) override;
    HRESULT STDMETHODCALLTYPE SetMirror(MF_VIDEO_PROCESSOR_MIRROR) override { return NotImplemented(); }
    HRESULT STDMETHODCALLTYPE SetRotation(MF_VIDEO_PROCESSOR_ROTATION rotation) override;
    HRESULT STDMETHODCALLTYPE SetConstrictionSize(SIZE*) override { return NotImplemented(); }

protected:
    void DescribeInput(MFT_INPUT_STREAM_INFO& info) override;
    void DescribeOutput(MFT_OUTPUT_STREAM_INFO& info) override;
    HRESULT InputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) override;
    HRESULT OutputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) override;
    HRESULT CheckInputType(IMFMediaType* type) override;
    HRESULT CheckOutputType(IMFMediaType* type) override;
    void TypesChanged() override;
    bool CanTakeInput() override { return !m_pending; }
    bool HasOutput() override { return static_cast<bool>(m_pending); }
    HRESULT TakeInput(IMFSample* sample) override;
    HRESULT MakeOutput(MFT_OUTPUT_DATA_BUFFER& buffer) override;
    HRESULT Flush() override;
    HRESULT Drain() override { return S_OK; }
    HRESULT SetD3DManager(IUnknown* manager) override;

private:
    ~VideoProcessorTransform() override;

    // Clockwise turn applied to the input: its rotation when asked to turn it upright, else none.
    int Turn() const;
    bool PassesThrough() const;
    // The frame rates of the two types agree, or rate conversion is off, or a rate is missing.
    bool RatesCompatible(IMFMediaType* input, IMFMediaType* output);
    HRESULT Convert(IMFSample* input, IMFSample* output);
    void ResetPool();

    PictureFormat m_in;
    PictureFormat m_out;
    int m_inputRotation = 0;
    MF_VIDEO_PROCESSOR_ROTATION m_rotationMode = ROTATION_NONE;
    yuv::FrameConverter::Rect m_area; // empty: the whole output
    ComPtr<IMFSample> m_pending;
    ComPtr<ID3D11Device> m_device;
    ComPtr<VideoSamplePool> m_pool;
    yuv::FrameConverter m_converter;
};
