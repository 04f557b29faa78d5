#pragma once
// One stream of a MediaSource. The capture side queues samples with QueueSample, the media session asks for
// them with RequestSample; each request is answered with one MEMediaSample event as soon as a sample is
// there. The stream locks through its source's lock.

#include "EventGeneratorBase.h"
#include <mfidl.h>
#include <wrl/implements.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

class MediaSource;

class MediaStream final : public EventGeneratorBase<ComObject<IMFMediaStream>> {
public:
    enum class State : std::int32_t {
        Stopped = 1,
        Paused = 2,
        Started = 3,
        Shutdown = 4,
    };

    enum class SampleKind : std::int32_t {
        Other = 0,
        Video = 1,
        Audio = 2,
    };

    // Reads the stream's identifier and its first media type, which sets the sample duration and the
    // maximum sample age. `*stream` stays null on failure.
    static HRESULT CreateInstance(MediaSource* source, IMFStreamDescriptor* streamDesc, MediaStream** stream);

    // The capture side's entry: see the drop rule in the source file.
    HRESULT QueueSample(IMFSample* sample);

    // IMFMediaEventGenerator
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) override;

    // IMFMediaStream
    HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** ppMediaSource) override;
    HRESULT STDMETHODCALLTYPE GetStreamDescriptor(IMFStreamDescriptor** ppStreamDescriptor) override;
    HRESULT STDMETHODCALLTYPE RequestSample(IUnknown* pToken) override;

    // Called by the source under the shared lock.
    HRESULT Activate(bool selected);
    bool IsActive() const { return m_active != 0; }
    HRESULT Start(const PROPVARIANT& propVar);
    HRESULT Pause();
    HRESULT Stop();
    HRESULT Shutdown();
    // The source is going away: the stream forgets it.
    void DetachSource();

    LONGLONG SampleDuration() const { return m_sampleDuration; }
    std::uint32_t MaxSampleAge() const { return m_maxSampleAge; }
    SampleKind Kind() const { return m_sampleKind; }
    // Samples dropped before the session asked for them.
    std::uint64_t DroppedSamples() const;

private:
    struct QueuedSample {
        ComPtr<IMFSample> sample;
        std::uint64_t enqueueTime; // milliseconds
    };

    MediaStream(MediaSource* source, std::shared_ptr<std::recursive_mutex> lock)
        : EventGeneratorBase(std::move(lock)), m_source(source) {}

    HRESULT Initialize(IMFStreamDescriptor* streamDesc);
    HRESULT ReadTiming(IMFMediaType* mediaType, REFGUID majorType);
    bool IsShutdown() const override { return m_state == State::Shutdown; }
    HRESULT DispatchSamples();
    void DropSamplesOlderThan(std::uint32_t maxAgeMs);
    void DropFront();
    void ClearQueues();

    MediaSource* m_source;
    ComPtr<IMFStreamDescriptor> m_streamDesc;
    State m_state = State::Stopped;
    SampleKind m_sampleKind = SampleKind::Other;
    std::deque<QueuedSample> m_samples;
    std::deque<ComPtr<IUnknown>> m_requests;
    LONGLONG m_sampleDuration = 0;
    std::uint32_t m_streamId = 0;
    std::uint32_t m_maxSampleAge = 0;
    std::int32_t m_active = 0;
    std::int32_t m_endOfStream = 0;
    std::uint64_t m_droppedSamples = 0;
};
