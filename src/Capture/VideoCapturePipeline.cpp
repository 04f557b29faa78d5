#include "VideoCapturePipeline.h"

#include "Codec/DriverVersion.h"
#include "Codec/SampleAttributes.h"
#include "D3DUtil.h"
#include "DDCapture.h"
#include "EncoderSelection.h"
#include "Media/TopologyBranch.h"
#include "RTCapture.h"
#include "Util/Assert.h"
#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include <combaseapi.h>
#include <mfidl.h>
#include <mftransform.h>
#include <pyx/CaptureClock.h>
#include <stringapiset.h>
#include <wmcodecdsp.h>

#include <algorithm>

namespace {

constexpr std::int32_t GraphicsCaptureMethod = 2;

UINT32 Even(UINT32 value) { return std::max<UINT32>(2, value & ~UINT32{1}); }

UINT32 RotationDegrees(DXGI_MODE_ROTATION rotation) {
    switch (rotation) {
    case DXGI_MODE_ROTATION_ROTATE90:
        return 90;
    case DXGI_MODE_ROTATION_ROTATE180:
        return 180;
    case DXGI_MODE_ROTATION_ROTATE270:
        return 270;
    default:
        return 0;
    }
}

} // namespace

OutputSize FitInside(UINT32 width, UINT32 height, UINT32 boundWidth, UINT32 boundHeight) {
    if (width <= boundWidth && height <= boundHeight)
        return {Even(width), Even(height)};
    // Scale by the tighter bound, computed in 64 bits so that no size overflows.
    const std::uint64_t byWidth = std::uint64_t{boundWidth} * height;
    const std::uint64_t byHeight = std::uint64_t{boundHeight} * width;
    if (byWidth <= byHeight)
        return {Even(boundWidth), Even(static_cast<UINT32>(byWidth / width))};
    return {Even(static_cast<UINT32>(byHeight / height)), Even(boundHeight)};
}

OutputSize ChooseOutputSize(UINT32 captureWidth, UINT32 captureHeight, const CaptureOptions& options) {
    if (options.fixedOutputSize != 0)
        return {options.outputWidth, options.outputHeight};
    if (options.keepCaptureSize != 0)
        return {Even(captureWidth), Even(captureHeight)};
    return FitInside(captureWidth, captureHeight, options.outputWidth, options.outputHeight);
}

VideoCapturePipeline::VideoCapturePipeline(const CaptureOptions& options,
                                           GenericGrabberSinkCallback::Function sinkFunction,
                                           DWORD streamIndex, float bitrateShare)
    : m_streamIndex(streamIndex), m_bitrateShare(bitrateShare) {
    const float share = bitrateShare;
    PYX_ASSERT(share > 0.0f && share <= 1.0f);

    const bool graphicsCapture = options.captureMethod == GraphicsCaptureMethod;
    LogInfo("Creating capture source using %s", graphicsCapture ? "WinRT" : "DD");
    CaptureSettings settings;
    settings.hmon = options.monitor;
    settings.hwnd = options.window;
    settings.frameRate = static_cast<std::int32_t>(options.EffectiveFrameRate());
    settings.hideCursor = options.hideCursor;
    settings.noBorder = 1;
    settings.frameCallback = [this](ID3D11Texture2D* texture, std::int64_t time, std::int64_t duration) {
        FrameHandler(texture, time, duration);
    };
    settings.sizeChangeCallback = [callback = options.resolutionCallback](std::int32_t width,
                                                                          std::int32_t height) {
        LogInfo("Capture resolution changed to (%d, %d)", width, height);
        if (callback)
            callback(width, height);
    };
    if (graphicsCapture)
        m_capture = std::make_unique<RTCapture>(settings);
    else
        m_capture = std::make_unique<DDCapture>(settings);

    m_sampleAllocator = MakeComObject<D3DSampleAllocator>(m_capture->Device());
    ThrowIfFailed(MFCreateDXGIDeviceManager(&m_deviceResetToken, &m_deviceManager),
                  "MFCreateDXGIDeviceManager( &m_deviceResetToken, &m_deviceManager )");
    ThrowIfFailed(m_deviceManager->ResetDevice(m_capture->Device(), m_deviceResetToken),
                  "m_deviceManager->ResetDevice( m_capture->Device(), m_deviceResetToken )");

    CreateSourceMediaType(options);

    VideoCodecOptions codecOptions;
    codecOptions.codec = options.codec;
    codecOptions.includeCustomCodecs = options.includeCustomCodecs;
    codecOptions.device = m_capture->Device();
    codecOptions.deviceVendor = D3DUtil::GetDeviceVendor(m_capture->Device());
    // Only the codec library reads it, and for some vendors it loads their runtime to find it.
    if (options.includeCustomCodecs != 0)
        codecOptions.driverVersion = kiv::mfcodec::CodecDriverVersion(
            codecOptions.deviceVendor, D3DUtil::GetDeviceDriverVersion(m_capture->Device()));
    codecOptions.codecPreset = options.codecPreset;
    codecOptions.codecLongGop = options.codecLongGop;
    codecOptions.codecOptionValue = options.codecOptionValue;
    GUID encoderInput = GUID_NULL;
    EncoderInfo encoder =
        EncoderSelection(options.enumerateTransforms).ChooseVideo(codecOptions, encoderInput, m_codecKind);
    m_encoderDescription = {WideToUtf8(encoder.name), encoder.hardware};

    UINT32 width = 0;
    UINT32 height = 0;
    ThrowIfFailed(MFGetAttributeSize(m_sourceMediaType.Get(), MF_MT_FRAME_SIZE, &width, &height),
                  "MFGetAttributeSize( m_sourceMediaType.Get(), MF_MT_FRAME_SIZE, &width, &height )");
    const ComPtr<IMFMediaType> processorType = CreateVideoProcessor(options, encoderInput, width, height);

    m_encoder = encoder.mft;
    ThrowIfFailed(m_encoder.As(&m_codecAPI), "m_encoder.As( &m_codecAPI )");
    ApplyEncoderSettings(encoder, options);

    ComPtr<IMFMediaType> output;
    ThrowIfFailed(MFCreateMediaType(&output), "MFCreateMediaType( &output )");
    ThrowIfFailed(processorType->CopyAllItems(output.Get()), "input->CopyAllItems( output.Get() )");
    ThrowIfFailed(output->SetGUID(MF_MT_SUBTYPE, encoder.output),
                  "output->SetGUID( MF_MT_SUBTYPE, encoderInfo.output )");
    if (m_codecKind == VideoCodecKind::Hevc)
        ThrowIfFailed(output->SetUINT32(MF_MT_VIDEO_PROFILE, eAVEncH265VProfile_Main_420_8),
                      "output->SetUINT32( MF_MT_VIDEO_PROFILE, eAVEncH265VProfile_Main_420_8 )");
    else
        ThrowIfFailed(output->SetUINT32(MF_MT_MPEG2_PROFILE, eAVEncH264VProfile_High),
                      "output->SetUINT32( MF_MT_MPEG2_PROFILE, eAVEncH264VProfile_High )");
    THROW_IF_FAILED(output->DeleteItem(MF_MT_FIXED_SIZE_SAMPLES));
    THROW_IF_FAILED(output->DeleteItem(MF_MT_ALL_SAMPLES_INDEPENDENT));
    if (encoder.d3d11Aware)
        ThrowIfFailed(m_encoder->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER,
                                                reinterpret_cast<ULONG_PTR>(m_deviceManager.Get())),
                      "m_encoder->ProcessMessage( MFT_MESSAGE_SET_D3D_MANAGER, "
                      "reinterpret_cast<ULONG_PTR>( m_deviceManager.Get() ) )");
    ThrowIfFailed(m_encoder->SetOutputType(0, output.Get(), 0),
                  "m_encoder->SetOutputType( 0, output.Get(), 0 )");
    ThrowIfFailed(m_encoder->SetInputType(0, processorType.Get(), 0),
                  "m_encoder->SetInputType( 0, input.Get(), 0 )");

    UINT32 num = 0;
    UINT32 den = 0;
    ThrowIfFailed(MFGetAttributeSize(processorType.Get(), MF_MT_FRAME_SIZE, &width, &height),
                  "MFGetAttributeSize(processorType.Get(), MF_MT_FRAME_SIZE, &width, &height)");
    ThrowIfFailed(MFGetAttributeRatio(processorType.Get(), MF_MT_FRAME_RATE, &num, &den),
                  "MFGetAttributeRatio(processorType.Get(), MF_MT_FRAME_RATE, &num, &den)");
    LogInfo("Video output: %ux%u at %u/%u frames/s", width, height, num, den);

    ComPtr<IMFMediaType> encoded;
    ThrowIfFailed(m_encoder->GetOutputCurrentType(0, &encoded),
                  "m_encoder->GetOutputCurrentType( 0, &encoded )");
    m_sinkNode = std::make_unique<SinkNodeHolder>(encoded.Get(), true);
    m_sinkNode->SetSinkFunction(std::move(sinkFunction));
}

VideoCapturePipeline::~VideoCapturePipeline() { Stop(); }

void VideoCapturePipeline::CreateSourceMediaType(const CaptureOptions& options) {
    const UINT32 frameRate = options.EffectiveFrameRate();
    ThrowIfFailed(MFCreateMediaType(&m_sourceMediaType), "MFCreateMediaType( &m_sourceMediaType )");
    ThrowIfFailed(m_sourceMediaType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video),
                  "m_sourceMediaType->SetGUID( MF_MT_MAJOR_TYPE, MFMediaType_Video )");
    ThrowIfFailed(m_sourceMediaType->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_ARGB32),
                  "m_sourceMediaType->SetGUID( MF_MT_SUBTYPE, MFVideoFormat_ARGB32 )");
    ThrowIfFailed(m_sourceMediaType->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1),
                  "m_sourceMediaType->SetUINT32( MF_MT_ALL_SAMPLES_INDEPENDENT, 1 )");
    ThrowIfFailed(
        m_sourceMediaType->SetUINT32(MF_MT_AVG_BITRATE, uint32_t(options.bitrate * m_bitrateShare)),
        "m_sourceMediaType->SetUINT32( MF_MT_AVG_BITRATE, uint32_t( options.bitrate * m_bitrateShare "
        ") )");
    ThrowIfFailed(m_sourceMediaType->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive),
                  "m_sourceMediaType->SetUINT32( MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive )");
    ThrowIfFailed(m_sourceMediaType->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, 1),
                  "m_sourceMediaType->SetUINT32( MF_MT_FIXED_SIZE_SAMPLES, 1 )");
    ThrowIfFailed(MFSetAttributeRatio(m_sourceMediaType.Get(), MF_MT_FRAME_RATE, frameRate, 1),
                  "MFSetAttributeRatio( m_sourceMediaType.Get(), MF_MT_FRAME_RATE, frameRate, 1 )");
    ThrowIfFailed(MFSetAttributeRatio(m_sourceMediaType.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1),
                  "MFSetAttributeRatio( m_sourceMediaType.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1 )");
    const UINT32 rotation = RotationDegrees(m_capture->Rotation());
    if (m_capture->Rotation() != DXGI_MODE_ROTATION_IDENTITY)
        ThrowIfFailed(m_sourceMediaType->SetUINT32(MF_MT_VIDEO_ROTATION, rotation),
                      "m_sourceMediaType->SetUINT32( MF_MT_VIDEO_ROTATION, rotation )");
    auto width = static_cast<UINT32>(m_capture->Width());
    auto height = static_cast<UINT32>(m_capture->Height());
    if (rotation == 90 || rotation == 270)
        std::swap(width, height);
    ThrowIfFailed(MFSetAttributeSize(m_sourceMediaType.Get(), MF_MT_FRAME_SIZE, width, height),
                  "MFSetAttributeSize( m_sourceMediaType.Get(), MF_MT_FRAME_SIZE, width, height )");
}

ComPtr<IMFMediaType> VideoCapturePipeline::CreateVideoProcessor(const CaptureOptions& options,
                                                                const GUID& encoderInput, UINT32 captureWidth,
                                                                UINT32 captureHeight) {
    const OutputSize size = ChooseOutputSize(captureWidth, captureHeight, options);
    const bool rotated = m_capture->Rotation() != DXGI_MODE_ROTATION_IDENTITY;
    if (encoderInput == MFVideoFormat_ARGB32 && size.width == captureWidth && size.height == captureHeight &&
        !rotated)
        return m_sourceMediaType;

    const UINT32 frameRate = options.EffectiveFrameRate();
    ComPtr<IMFMediaType> output;
    ThrowIfFailed(MFCreateMediaType(&output), "MFCreateMediaType( &output )");
    ThrowIfFailed(m_sourceMediaType->CopyAllItems(output.Get()),
                  "m_sourceMediaType->CopyAllItems( output.Get() )");
    ThrowIfFailed(output->SetGUID(MF_MT_SUBTYPE, encoderInput),
                  "output->SetGUID( MF_MT_SUBTYPE, encoderInput )");
    ThrowIfFailed(output->SetUINT32(MF_MT_VIDEO_ROTATION, 0), "output->SetUINT32( MF_MT_VIDEO_ROTATION, 0 )");
    ThrowIfFailed(MFSetAttributeSize(output.Get(), MF_MT_FRAME_SIZE, size.width, size.height),
                  "MFSetAttributeSize( output.Get(), MF_MT_FRAME_SIZE, width, height )");
    ThrowIfFailed(MFSetAttributeRatio(output.Get(), MF_MT_FRAME_RATE, frameRate, 1),
                  "MFSetAttributeRatio( output.Get(), MF_MT_FRAME_RATE, frameRate, 1 )");

    ThrowIfFailed(CoCreateInstance(CLSID_VideoProcessorMFT, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&m_videoProcessor)),
                  "CoCreateInstance( CLSID_VideoProcessorMFT, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS( "
                  "&m_videoProcessor ) )");
    ThrowIfFailed(m_videoProcessor->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER,
                                                   reinterpret_cast<ULONG_PTR>(m_deviceManager.Get())),
                  "m_videoProcessor->ProcessMessage( MFT_MESSAGE_SET_D3D_MANAGER, "
                  "reinterpret_cast<ULONG_PTR>( m_deviceManager.Get() ) )");
    ComPtr<IMFAttributes> attributes;
    ThrowIfFailed(m_videoProcessor->GetAttributes(&attributes),
                  "m_videoProcessor->GetAttributes( &attributes )");
    ThrowIfFailed(attributes->SetUINT32(MF_XVP_DISABLE_FRC, TRUE),
                  "attributes->SetUINT32( MF_XVP_DISABLE_FRC, TRUE )");
    ThrowIfFailed(m_videoProcessor->SetOutputType(0, output.Get(), 0),
                  "m_videoProcessor->SetOutputType( 0, output.Get(), 0 )");
    ThrowIfFailed(m_videoProcessor->SetInputType(0, m_sourceMediaType.Get(), 0),
                  "m_videoProcessor->SetInputType( 0, m_sourceMediaType.Get(), 0 )");
    ComPtr<IMFVideoProcessorControl> control;
    if (rotated || options.fixedOutputSize != 0)
        ThrowIfFailed(m_videoProcessor.As(&control), "m_videoProcessor.As( &control )");
    if (rotated)
        ThrowIfFailed(control->SetRotation(ROTATION_NORMAL), "control->SetRotation( ROTATION_NORMAL )");
    if (options.fixedOutputSize != 0) {
        // The picture at its own size where it fits, else scaled down; centred, on even lines for the chroma.
        const OutputSize picture = FitInside(captureWidth, captureHeight, size.width, size.height);
        const LONG left = static_cast<LONG>((size.width - picture.width) / 2 & ~UINT32{1});
        const LONG top = static_cast<LONG>((size.height - picture.height) / 2 & ~UINT32{1});
        RECT area{left, top, left + static_cast<LONG>(picture.width),
                  top + static_cast<LONG>(picture.height)};
        ThrowIfFailed(control->SetDestinationRectangle(&area), "control->SetDestinationRectangle( &area )");
    }
    return output;
}

HRESULT VideoCapturePipeline::SetCodecValue(const GUID& api, VARTYPE type, UINT32 value) {
    VARIANT var;
    VariantInit(&var);
    var.vt = type;
    if (type == VT_BOOL)
        var.boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    else
        var.ulVal = value;
    return m_codecAPI->SetValue(&api, &var);
}

void VideoCapturePipeline::ApplyEncoderSettings(const EncoderInfo& encoder, const CaptureOptions& options) {
    if (encoder.async) {
        ComPtr<IMFAttributes> attr;
        ThrowIfFailed(encoder.mft->GetAttributes(&attr), "encoder.mft->GetAttributes( &attr )");
        ThrowIfFailed(attr->SetUINT32(MF_TRANSFORM_ASYNC_UNLOCK, 1),
                      "attr->SetUINT32( MF_TRANSFORM_ASYNC_UNLOCK, 1 )");
    }
    ThrowIfFailed(SetCodecValue(CODECAPI_AVLowLatencyMode, VT_BOOL, 1),
                  "m_codecAPI->SetValue( &CODECAPI_AVLowLatencyMode, &var )");
    const UINT32 frameRate = options.EffectiveFrameRate();
    const UINT32 gopSize =
        m_codecKind != VideoCodecKind::Hevc && options.sliceMode != 0 ? 0xFFFFFFFF : 2 * frameRate;
    ThrowIfFailed(SetCodecValue(CODECAPI_AVEncMPVGOPSize, VT_UI4, gopSize),
                  "m_codecAPI->SetValue( &CODECAPI_AVEncMPVGOPSize, &var )");
    // The GOP also holds in time: an unchanging window yields far fewer frames than the frame rate.
    m_keyInterval = gopSize == 0xFFFFFFFF ? 0 : std::int64_t{gopSize} * 10'000'000 / frameRate;
    ThrowIfFailed(SetCodecValue(CODECAPI_AVEncCommonRateControlMode, VT_UI4, eAVEncCommonRateControlMode_CBR),
                  "m_codecAPI->SetValue( &CODECAPI_AVEncCommonRateControlMode, &var )");
    if (m_codecKind == VideoCodecKind::H264)
        ThrowIfFailed(SetCodecValue(CODECAPI_AVEncH264CABACEnable, VT_BOOL, 0),
                      "m_codecAPI->SetValue( &CODECAPI_AVEncH264CABACEnable, &var )");
    if (options.sliceMode == 2) {
        const HRESULT hr = SetCodecValue(CODECAPI_AVEncSliceControlMode, VT_UI4, 2);
        if (FAILED(hr))
            LogError("Failed to set encoder slice mode %lu. Error: 0x%08lx. Not using slice mode.", 2ul,
                     static_cast<unsigned long>(hr));
        else
            ThrowIfFailed(SetCodecValue(CODECAPI_AVEncSliceControlSize, VT_UI4, 5),
                          "m_codecAPI->SetValue( &CODECAPI_AVEncSliceControlSize, &var )");
    }
}

void VideoCapturePipeline::AddToTopology(IMFTopology* topology, MediaSource* source) {
    ComPtr<MediaStream> stream;
    ThrowIfFailed(source->GetStream(m_streamIndex, &stream),
                  "source->GetStream( m_streamIndex, &m_mediaStream )");
    std::vector<IMFTransform*> transforms;
    if (m_videoProcessor)
        transforms.push_back(m_videoProcessor.Get());
    transforms.push_back(m_encoder.Get());
    AddTopologyBranch(topology, source, m_streamIndex, transforms, m_sinkNode->StreamSink());
    m_mediaStream = stream;
}

void VideoCapturePipeline::Start(LONGLONG startTime) {
    m_startTime = startTime;
    m_capture->Start();
}

void VideoCapturePipeline::Stop() { m_capture->Stop(); }

void VideoCapturePipeline::RequestKeyFrame() {
    LogIfFailed(SetCodecValue(CODECAPI_AVEncVideoForceKeyFrame, VT_UI4, 1),
                "m_codecAPI->SetValue( &CODECAPI_AVEncVideoForceKeyFrame, &var )");
    // A still window's next frame would come only with its next repeat; the key frame is wanted now.
    DeliverNow();
}

bool VideoCapturePipeline::DeliverNow() {
    if (!m_capture->Running())
        return false;
    m_capture->DeliverBy(pyx::CaptureTime().count());
    return true;
}

void VideoCapturePipeline::SetFrameObserver(FrameObserver observer) {
    std::lock_guard lock(m_observerMutex);
    m_frameObserver = std::move(observer);
}

void VideoCapturePipeline::MarkKeyFrame(IMFSample* sample, LONGLONG time, LONGLONG period) {
    // The first picture is a key frame anyway. Later ones become one where the interval is up, give or take
    // half a period, so that at the full frame rate these are the frames the GOP makes key frames anyway.
    if (m_frame == 0 || time - m_lastKeyTime >= m_keyInterval - period / 2) {
        if (m_frame != 0)
            ThrowIfFailed(
                sample->SetUINT32(MFSampleExtension_VideoEncodePictureType, eAVEncH264PictureType_IDR),
                "sample->SetUINT32( MFSampleExtension_VideoEncodePictureType, "
                "eAVEncH264PictureType_IDR )");
        m_lastKeyTime = time;
    }
    // The capture repeats an unchanging picture in time for the next one.
    m_capture->DeliverBy(m_startTime + m_lastKeyTime + m_keyInterval);
}

void VideoCapturePipeline::FrameHandler(ID3D11Texture2D* texture, std::int64_t time, std::int64_t duration) {
    ComPtr<IMFSample> sample;
    ThrowIfFailed(m_sampleAllocator->Allocate(texture, &sample),
                  "m_sampleAllocator->Allocate( texture, &sample )");
    const LONGLONG timestampHns = time - m_startTime;
    const LONGLONG durationHns = duration;
    ThrowIfFailed(sample->SetSampleTime(timestampHns), "sample->SetSampleTime( timestampHns )");
    ThrowIfFailed(sample->SetSampleDuration(durationHns), "sample->SetSampleDuration( durationHns )");
    ThrowIfFailed(sample->SetUINT32(KIV_GUID_FRAMENUM, m_frame),
                  "sample->SetUINT32( KIV_GUID_FRAMENUM, m_frame )");
    if (m_keyInterval != 0)
        MarkKeyFrame(sample.Get(), timestampHns, durationHns);
    ++m_frame;
    ThrowIfFailed(m_mediaStream->QueueSample(sample.Get()), "m_mediaStream->QueueSample( sample.Get() )");

    std::lock_guard lock(m_observerMutex);
    if (m_frameObserver) {
        try {
            m_frameObserver(m_capture->Device(), texture);
        } catch (...) {
            LogError("Exception occured in VideoCapturePipeline::FrameHandler");
            m_frameObserver = nullptr;
        }
    }
}
