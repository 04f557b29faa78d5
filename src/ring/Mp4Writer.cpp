#include "Mp4Writer.h"

#include "Util/ErrorText.h"
#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include <stringapiset.h>

#include <filesystem>

namespace {

// Results that say the file cannot take more data, as opposed to one sample being refused.
bool IsFileFailure(HRESULT hr) {
    return hr == E_FAIL || hr == E_ACCESSDENIED || hr == HRESULT_FROM_WIN32(ERROR_DISK_FULL) ||
           hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

} // namespace

Mp4Writer::Mp4Writer(const std::wstring& filename, IMFMediaType* videoType, IMFMediaType* audioType,
                     IMFMediaType* videoOverride, IMFMediaType* audioOverride, IUnknown* dxgiDeviceManager,
                     bool disableThrottling)
    : m_filename(filename) {
    ComPtr<IMFAttributes> attributes;
    ThrowIfFailed(MFCreateAttributes(&attributes, 2), "MFCreateAttributes( &attributes, 2 )");
    ThrowIfFailed(attributes->SetUINT32(MF_LOW_LATENCY, 1), "attributes->SetUINT32( MF_LOW_LATENCY, 1 )");
    ThrowIfFailed(attributes->SetUINT32(MF_SINK_WRITER_DISABLE_THROTTLING, disableThrottling ? 1 : 0),
                  "attributes->SetUINT32( MF_SINK_WRITER_DISABLE_THROTTLING, disableThrottling ? 1 : 0 )");
    if (dxgiDeviceManager != nullptr) {
        ThrowIfFailed(attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, 1),
                      "attributes->SetUINT32( MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, 1 )");
        ThrowIfFailed(attributes->SetUnknown(MF_SINK_WRITER_D3D_MANAGER, dxgiDeviceManager),
                      "attributes->SetUnknown( MF_SINK_WRITER_D3D_MANAGER, dxgiDeviceManager )");
    }
    ComPtr<IMFSinkWriter> sinkWriter;
    ThrowIfFailed(
        MFCreateSinkWriterFromURL(filename.c_str(), nullptr, attributes.Get(), sinkWriter.GetAddressOf()),
        "MFCreateSinkWriterFromURL(filename.c_str(), nullptr, attributes.Get(), sinkWriter.GetAddressOf())");
    m_sinkWriter = sinkWriter;

    m_sinkVideoType = videoOverride != nullptr ? videoOverride : videoType;
    if (m_sinkVideoType) {
        if (FAILED(LogIfFailed(m_sinkWriter->AddStream(m_sinkVideoType.Get(), &m_videoStreamId),
                               "m_sinkWriter->AddStream( m_sinkVideoType.Get(), &m_videoStreamId)")))
            return;
        m_videoType = videoType;
    }
    m_sinkAudioType = audioOverride != nullptr ? audioOverride : audioType;
    if (m_sinkAudioType &&
        SUCCEEDED(LogIfFailed(m_sinkWriter->AddStream(m_sinkAudioType.Get(), &m_audioStreamId),
                              "m_sinkWriter->AddStream( m_sinkAudioType.Get(), &m_audioStreamId)")))
        m_audioType = audioType;
}

Mp4Writer::~Mp4Writer() { Finalize(); }

HRESULT Mp4Writer::BeginWriting() {
    if (!m_sinkWriter)
        return MF_E_SHUTDOWN;
    return LogIfFailed(m_sinkWriter->BeginWriting(), "m_sinkWriter->BeginWriting()");
}

void Mp4Writer::WriteVideo(IMFSample* sample) {
    Write(sample, m_videoType != nullptr, m_videoStreamId, m_videoTimestamp,
          "sample->SetSampleTime( timestamp - m_videoTimestamp )",
          "m_sinkWriter->WriteSample( m_videoStreamId, sample )");
}

void Mp4Writer::WriteAudio(IMFSample* sample) {
    Write(sample, m_audioType != nullptr, m_audioStreamId, m_audioTimestamp,
          "sample->SetSampleTime( timestamp - m_audioTimestamp )",
          "m_sinkWriter->WriteSample( m_audioStreamId, sample )");
}

void Mp4Writer::Write(IMFSample* sample, bool hasStream, DWORD streamId, LONGLONG& firstTimestamp,
                      const char* setTimeText, const char* writeText) {
    // Without its own stream a sample would land in the other stream, under the other stream's id.
    if (!m_sinkWriter || !hasStream || FAILED(m_fileFailure))
        return;
    LONGLONG timestamp = 0;
    if (FAILED(LogIfFailed(sample->GetSampleTime(&timestamp), "sample->GetSampleTime( &timestamp )")))
        return;
    if (firstTimestamp == -1)
        firstTimestamp = timestamp;
    if (FAILED(LogIfFailed(sample->SetSampleTime(timestamp - firstTimestamp), setTimeText)))
        return;
    const HRESULT hr = LogIfFailed(m_sinkWriter->WriteSample(streamId, sample), writeText);
    if (IsFileFailure(hr))
        FailFile(hr);
}

void Mp4Writer::FailFile(HRESULT hr) {
    if (FAILED(m_fileFailure))
        return;
    m_fileFailure = hr;
    LogError("unable to write %s: %s", WideToUtf8(m_filename).c_str(), ErrorText(hr).c_str());
}

HRESULT Mp4Writer::Finalize() {
    if (!m_sinkWriter)
        return m_fileFailure;
    const HRESULT hr = m_sinkWriter->Finalize();
    m_sinkWriter = nullptr;
    m_videoType = nullptr;
    m_audioType = nullptr;
    m_sinkVideoType = nullptr;
    m_sinkAudioType = nullptr;
    if (FAILED(LogIfFailed(hr, "m_sinkWriter->Finalize()"))) {
        if (IsFileFailure(hr))
            FailFile(hr);
        std::error_code ignored;
        std::filesystem::remove(std::filesystem::path(WideToUtf8(m_filename)), ignored);
    }
    return FAILED(m_fileFailure) ? m_fileFailure : hr;
}
