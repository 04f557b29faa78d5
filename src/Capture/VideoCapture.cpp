#include "VideoCapture.h"

#include "RTCapture.h"
#include "Util/ComException.h"
#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include <mfapi.h>
#include <processthreadsapi.h>
#include <propidl.h>
#include <pyx/CaptureClock.h>

#include <vector>

namespace {

constexpr int ConstructionAttempts = 3;
constexpr DWORD RetryDelayMs = 200;

} // namespace

VideoCapture::MediaFoundation::MediaFoundation() {
    ThrowIfFailed(MFStartup(MF_VERSION, MFSTARTUP_FULL), "MFStartup( MF_VERSION, MFSTARTUP_FULL )");
}

VideoCapture::MediaFoundation::~MediaFoundation() { MFShutdown(); }

VideoCapture::VideoCapture(HMONITOR monitor, HWND window, FrameSize frameSize, const CaptureChoices& choices,
                           TransformEnumerator enumerateTransforms)
    : m_packetHandler(choices.audio.mode != AudioCaptureMode::None) {
    m_options.enumerateTransforms = std::move(enumerateTransforms);
    if (frameSize.width != 0 && frameSize.height != 0) {
        m_options.outputWidth = frameSize.width;
        m_options.outputHeight = frameSize.height;
        m_options.fixedOutputSize = 1;
    }
    LogInfo("video frame size: %ux%u", m_options.outputWidth, m_options.outputHeight);
    m_options.monitor = window != nullptr ? nullptr : monitor;
    m_options.window = window;
    m_options.audio = choices.audio;
    m_options.includeCustomCodecs = choices.includeCustomCodecs ? 1 : 0;
    // Only the capture thread calls it, which Stop joins before the pipeline goes.
    m_options.resolutionCallback = [this](std::int32_t width, std::int32_t height) {
        OnCaptureSizeChange(width, height);
    };
    CreatePipelines();
    m_packetHandler.SetKeyFrameRequest([pipeline = m_videoPipeline.get()] { pipeline->RequestKeyFrame(); });

    std::vector<IMFMediaType*> sourceMediaTypes{m_videoPipeline->SourceMediaType()};
    if (m_audioPipeline)
        sourceMediaTypes.push_back(m_audioPipeline->MediaType());
    ThrowIfFailed(MediaSource::CreateInstance(MediaSourceType::Server,
                                              static_cast<int>(sourceMediaTypes.size()),
                                              sourceMediaTypes.data(), &m_source),
                  "MediaSource::CreateInstance(MediaSourceType::Server, (int)sourceMediaTypes.size(), "
                  "sourceMediaTypes.data(), &m_source)");
    CreateSession();
}

VideoCapture::~VideoCapture() {
    try {
        Stop(nullptr);
    } catch (const std::exception& e) {
        LogError("\terror: stop capture: %s", e.what());
    }
    m_audioPipeline.reset();
    m_videoPipeline.reset();
    m_source = nullptr;
    m_eventHandler = nullptr;
    m_session = nullptr;
}

void VideoCapture::CreatePipelines() {
    for (int attempt = 1;; ++attempt) {
        try {
            m_videoPipeline = std::make_unique<VideoCapturePipeline>(
                m_options, m_packetHandler.SinkFunction(RingStreamKind::Video), 0, 1.0f);
            if (m_options.audio.mode != AudioCaptureMode::None)
                m_audioPipeline = std::make_unique<AudioCapturePipeline>(
                    m_options, m_packetHandler.SinkFunction(RingStreamKind::Audio), 1);
            return;
        } catch (const std::exception& e) {
            m_audioPipeline.reset();
            m_videoPipeline.reset();
            if (attempt == ConstructionAttempts)
                throw;
            LogWarn("capture pipeline construction failed (attempt %d of %d): %s", attempt,
                    ConstructionAttempts, e.what());
            Sleep(RetryDelayMs);
        }
    }
}

void VideoCapture::CreateSession() {
    ComPtr<IMFTopology> topology;
    ThrowIfFailed(MFCreateTopology(&topology), "MFCreateTopology(&topology)");
    m_videoPipeline->AddToTopology(topology.Get(), m_source.Get());
    if (m_audioPipeline)
        m_audioPipeline->AddToTopology(topology.Get(), m_source.Get());
    ComPtr<IMFAttributes> attr;
    ThrowIfFailed(MFCreateAttributes(&attr, 1), "MFCreateAttributes(&attr, 1)");
    ThrowIfFailed(attr->SetUINT32(MF_LOW_LATENCY, 1), "attr->SetUINT32(MF_LOW_LATENCY, 1)");
    ThrowIfFailed(MFCreateMediaSession(attr.Get(), &m_session),
                  "MFCreateMediaSession(attr.Get(), &m_session)");
    auto onFailure = [interruption = m_interruption](MediaEventType type, HRESULT status) {
        LogError("Capture session encountered an error and cannot continue (type=%lu/%08lX)",
                 static_cast<unsigned long>(type),
                 static_cast<unsigned long>(static_cast<std::uint32_t>(status)));
        Interrupt(*interruption, CaptureInterruption::Failed);
    };
    ThrowIfFailed(MediaSessionEventHandler::CreateInstance(m_session.Get(), &m_eventHandler, onFailure),
                  "MediaSessionEventHandler::CreateInstance(m_session.Get(), &m_eventHandler)");
    ThrowIfFailed(m_session->SetTopology(0, topology.Get()), "m_session->SetTopology(0, topology.Get())");
}

void VideoCapture::Interrupt(InterruptionState& state, CaptureInterruption interruption) {
    CaptureInterruption none = CaptureInterruption::None;
    state.compare_exchange_strong(none, interruption);
}

// The capture source tells a new size, or its unchanged size when it ended by itself.
void VideoCapture::OnCaptureSizeChange(std::int32_t width, std::int32_t height) {
    const bool resized =
        width != m_videoPipeline->CaptureWidth() || height != m_videoPipeline->CaptureHeight();
    if (!resized)
        LogError("capture source ended: size(%dx%d)", width, height);
    Interrupt(*m_interruption, resized ? CaptureInterruption::SizeChanged : CaptureInterruption::Failed);
}

void VideoCapture::SetFrameObserver(FrameObserver observer) {
    m_videoPipeline->SetFrameObserver(std::move(observer));
}

void VideoCapture::Start(RingFile* ring, std::uint32_t baseTime) {
    m_packetHandler.Start(ring, baseTime);
    PROPVARIANT var;
    PropVariantInit(&var);
    ThrowIfFailed(m_session->Start(&GUID_NULL, &var), "m_session->Start(&GUID_NULL, &var)");
    m_startTime = pyx::CaptureTime().count();
    m_videoPipeline->Start(m_startTime);
    if (m_audioPipeline)
        m_audioPipeline->Start(m_startTime);
}

CaptureReport VideoCapture::Report() const {
    CaptureReport report;
    report.anchor = m_packetHandler.Anchor(m_startTime);
    report.videoEncoder = m_videoPipeline->Encoder();
    if (m_audioPipeline)
        report.audioEncoder = m_audioPipeline->Encoder();
    report.framesRepeated = m_videoPipeline->FramesRepeated();
    report.framesDropped = m_videoPipeline->FramesDropped();
    return report;
}

ComPtr<IMFMediaType> VideoCapture::VideoOutputType() const {
    return ComPtr<IMFMediaType>(m_videoPipeline->OutputType());
}

ComPtr<IMFMediaType> VideoCapture::AudioOutputType() const {
    return ComPtr<IMFMediaType>(m_audioPipeline ? m_audioPipeline->OutputType() : nullptr);
}

ID3D11Device* VideoCapture::Device() const { return m_videoPipeline->Device(); }

namespace {

// How long a stop waits for the window's last picture to be encoded and written.
constexpr std::chrono::milliseconds FinalFrameWait{300};

} // namespace

void VideoCapture::Stop(std::uint32_t* latestEndTime) {
    const LONGLONG stopTime = !m_stopped && m_startTime >= 0 ? pyx::CaptureTime().count() - m_startTime : -1;
    // The recording ends with a picture of the window as it is now, also when it has been still for a while.
    if (stopTime >= 0 && m_videoPipeline->DeliverNow())
        m_packetHandler.WaitForVideoFrom(stopTime, FinalFrameWait);
    if (!m_stopped) {
        m_stopped = true;
        m_videoPipeline->Stop();
        if (m_audioPipeline)
            m_audioPipeline->Stop();
        if (m_source)
            LOG_IF_FAILED(m_source->Shutdown());
        if (m_session)
            LOG_IF_FAILED(m_session->Shutdown());
    }
    // The window's last picture stands until the stop, as its repeat would have shown.
    const std::uint32_t end = m_packetHandler.Stop(stopTime, RTCapture::RepeatInterval);
    if (latestEndTime != nullptr)
        *latestEndTime = end;
}
