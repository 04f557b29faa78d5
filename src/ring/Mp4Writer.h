#pragma once
// NAME.mp4 through the platform sink writer: one video and one audio stream, samples stored as they are
// (compressed), each stream's times rebased to its own first sample so both start at 0.

#include "SampleWriter.h"

#include <mfapi.h>
#include <wrl/client.h>

#include <string>

class Mp4Writer : public SampleWriter {
public:
    // Throws ComException when the writer cannot be created. A stream the writer refuses is logged and left
    // out (a refused video stream leaves out the audio stream too). An override replaces the given type as
    // the stream's type; with a device manager the writer may use hardware transforms.
    Mp4Writer(const std::wstring& filename, IMFMediaType* videoType, IMFMediaType* audioType,
              IMFMediaType* videoOverride, IMFMediaType* audioOverride, IUnknown* dxgiDeviceManager,
              bool disableThrottling);
    // Finalizes when Finalize has not run.
    ~Mp4Writer() override;
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    HRESULT BeginWriting();
    // Failures are logged and drop the sample. Samples of a stream that was left out are not written. Once
    // the file itself cannot be written (disk full, I/O error) that is logged once, in words, and nothing
    // more is written.
    void WriteVideo(IMFSample* sample) override;
    void WriteAudio(IMFSample* sample) override;
    // Completes the file and releases every reference; later calls do nothing. A failed finalization is
    // logged at ERROR and removes the file, so no partial recording is left behind. Returns the file's first
    // failure: a failed write or the finalization's result.
    HRESULT Finalize();

private:
    void Write(IMFSample* sample, bool hasStream, DWORD streamId, LONGLONG& firstTimestamp,
               const char* setTimeText, const char* writeText);

    void FailFile(HRESULT hr);

    std::wstring m_filename;
    HRESULT m_fileFailure = S_OK;
    ComPtr<IMFSinkWriter> m_sinkWriter;
    ComPtr<IMFMediaType> m_videoType;
    ComPtr<IMFMediaType> m_audioType;
    ComPtr<IMFMediaType> m_sinkVideoType;
    ComPtr<IMFMediaType> m_sinkAudioType;
    DWORD m_videoStreamId = 0;
    DWORD m_audioStreamId = 0;
    LONGLONG m_videoTimestamp = -1;
    LONGLONG m_audioTimestamp = -1;
};
