#include "MediaStream.h"

#include "MediaSource.h"
#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include <mfapi.h>
#include <mferror.h>
#include <pyx/CaptureClock.h>

#include <cmath>

namespace {

// How long a live source's audio waits for a session that stopped asking.
constexpr std::uint32_t ServerAudioMaxAgeMs = 1000;

std::uint64_t NowMilliseconds() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(pyx::CaptureClock::now().time_since_epoch())
            .count());
}

} // namespace

HRESULT MediaStream::CreateInstance(MediaSource* source, IMFStreamDescriptor* streamDesc,
                                    MediaStream** stream) {
    if (stream == nullptr)
        return E_POINTER;
    *stream = nullptr;
    if (source == nullptr || streamDesc == nullptr)
        return E_POINTER;
    return NoThrow([&] {
        ComPtr<MediaStream> created;
        created.Attach(new MediaStream(source, source->SharedLock()));
        const HRESULT hr = created->Initialize(streamDesc);
        if (SUCCEEDED(hr))
            *stream = created.Detach();
        return hr;
    });
}

HRESULT MediaStream::Initialize(IMFStreamDescriptor* streamDesc) {
    m_streamDesc = streamDesc;
    ComPtr<IMFMediaTypeHandler> handler;
    ComPtr<IMFMediaType> mediaType;
    GUID majorType = GUID_NULL;
    HRESULT hr = LogIfFailed(m_streamDesc->GetStreamIdentifier(reinterpret_cast<DWORD*>(&m_streamId)),
                             "hr = m_streamDesc->GetStreamIdentifier( (DWORD*)&m_streamId )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(streamDesc->GetMediaTypeHandler(&handler),
                         "hr = streamDesc->GetMediaTypeHandler( &handler )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(handler->GetMajorType(&majorType), "hr = handler->GetMajorType( &majorType )");
    if (SUCCEEDED(hr))
        hr = LogIfFailed(handler->GetMediaTypeByIndex(0, &mediaType),
                         "hr = handler->GetMediaTypeByIndex( 0, &mediaType )");
    if (SUCCEEDED(hr))
        hr = ReadTiming(mediaType.Get(), majorType);
    if (SUCCEEDED(hr))
        hr = LogIfFailed(MFCreateEventQueue(&m_eventQueue), "hr = MFCreateEventQueue( &m_eventQueue )");
    return hr;
}

HRESULT MediaStream::ReadTiming(IMFMediaType* mediaType, REFGUID majorType) {
    if (majorType == MFMediaType_Video) {
        m_sampleKind = SampleKind::Video;
        UINT32 num = 0;
        UINT32 den = 0;
        HRESULT hr = LogIfFailed(MFGetAttributeRatio(mediaType, MF_MT_FRAME_RATE, &num, &den),
                                 "hr = MFGetAttributeRatio( mediaType, MF_MT_FRAME_RATE, &num, &den )");
        // A zero rate has no frame duration.
        if (SUCCEEDED(hr) && num == 0)
            hr = LogIfFailed(MF_E_INVALIDMEDIATYPE, "hr = MF_E_INVALIDMEDIATYPE");
        if (FAILED(hr))
            return hr;
        m_sampleDuration = static_cast<LONGLONG>(std::trunc(double(den) / double(num) * 1000 * 10000));
    } else if (majorType == MFMediaType_Audio) {
        m_sampleKind = SampleKind::Audio;
        UINT32 rate = 0;
        HRESULT hr = LogIfFailed(mediaType->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate),
                                 "hr = mediaType->GetUINT32( MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate )");
        if (SUCCEEDED(hr) && rate == 0)
            hr = LogIfFailed(MF_E_INVALIDMEDIATYPE, "hr = MF_E_INVALIDMEDIATYPE");
        if (FAILED(hr))
            return hr;
        // The length of 1024 audio frames.
        m_sampleDuration = static_cast<LONGLONG>(std::trunc(1024 / (double(rate) / 1000) * 10000));
    } else {
        m_sampleKind = SampleKind::Other;
        m_sampleDuration = 0;
    }
    // From the already truncated duration: 31 ms at 48000 Hz audio, 24 ms at 60 frames/s.
    m_maxSampleAge = static_cast<std::uint32_t>(std::trunc(double(m_sampleDuration) / 10000 * 1.5));
    return S_OK;
}

HRESULT MediaStream::GetEvent(DWORD dwFlags, IMFMediaEvent** ppEvent) {
    ComPtr<IMFMediaEventQueue> queue;
    {
        std::lock_guard lock(*m_lock);
        if (m_state == State::Shutdown)
            return MF_E_SHUTDOWN;
        if (!m_eventQueue)
            return MF_E_NOT_INITIALIZED;
        queue = m_eventQueue;
    }
    return queue->GetEvent(dwFlags, ppEvent);
}

HRESULT MediaStream::GetMediaSource(IMFMediaSource** ppMediaSource) {
    if (ppMediaSource == nullptr)
        return E_POINTER;
    *ppMediaSource = nullptr;
    std::lock_guard lock(*m_lock);
    const HRESULT hr = CheckShutdown();
    if (FAILED(hr))
        return hr;
    if (m_source == nullptr)
        return E_UNEXPECTED;
    *ppMediaSource = m_source;
    m_source->AddRef();
    return S_OK;
}

HRESULT MediaStream::GetStreamDescriptor(IMFStreamDescriptor** ppStreamDescriptor) {
    if (ppStreamDescriptor == nullptr)
        return E_POINTER;
    *ppStreamDescriptor = nullptr;
    std::lock_guard lock(*m_lock);
    const HRESULT hr = CheckShutdown();
    if (FAILED(hr))
        return hr;
    return m_streamDesc ? m_streamDesc.CopyTo(ppStreamDescriptor) : E_UNEXPECTED;
}

HRESULT MediaStream::RequestSample(IUnknown* pToken) {
    std::lock_guard lock(*m_lock);
    if (m_state == State::Shutdown)
        return MF_E_SHUTDOWN;
    HRESULT hr = S_OK;
    if (m_state == State::Stopped || !m_active) {
        hr = LogIfFailed(MF_E_INVALIDREQUEST, "hr = MF_E_INVALIDREQUEST");
    } else if (m_endOfStream && m_samples.empty()) {
        hr = LogIfFailed(MF_E_END_OF_STREAM, "hr = MF_E_END_OF_STREAM");
    } else {
        hr = NoThrow([&] {
            m_requests.emplace_back(pToken);
            return S_OK;
        });
        if (SUCCEEDED(hr))
            hr = LogIfFailed(DispatchSamples(), "hr = DispatchSamples()");
    }
    // The session learns of the failure from the source's event stream.
    if (FAILED(hr) && m_source != nullptr)
        return m_source->QueueEvent(MEError, GUID_NULL, hr, nullptr);
    return hr;
}

HRESULT MediaStream::QueueSample(IMFSample* sample) {
    std::lock_guard lock(*m_lock);
    if (m_state != State::Started)
        return S_OK;
    ComPtr<IMFSample> held(sample);
    if (m_source != nullptr && m_source->Type() == MediaSourceType::Server) {
        if (m_sampleKind == SampleKind::Audio) {
            // Every piece of sound counts: a dropped packet is a click in the recording. Only a session that
            // stopped asking lets them age out, so that they do not pile up.
            DropSamplesOlderThan(ServerAudioMaxAgeMs);
        } else {
            // The newest picture replaces whatever the session has not asked for yet.
            while (!m_samples.empty())
                DropFront();
        }
    } else if (m_sampleKind == SampleKind::Audio) {
        DropSamplesOlderThan(m_maxSampleAge);
    }
    const HRESULT hr = NoThrow([&] {
        m_samples.push_back({std::move(held), NowMilliseconds()});
        return S_OK;
    });
    return SUCCEEDED(hr) ? DispatchSamples() : hr;
}

void MediaStream::DropSamplesOlderThan(std::uint32_t maxAgeMs) {
    const auto now = NowMilliseconds();
    while (!m_samples.empty() && now - m_samples.front().enqueueTime >= maxAgeMs)
        DropFront();
}

std::uint64_t MediaStream::DroppedSamples() const {
    std::lock_guard lock(*m_lock);
    return m_droppedSamples;
}

void MediaStream::DropFront() {
    m_samples.pop_front();
    ++m_droppedSamples;
    LogRaw("Sample dropped from %s queue. Remaining: %d\n",
           m_sampleKind == SampleKind::Video ? "video" : "audio", static_cast<int>(m_samples.size()));
}

HRESULT MediaStream::DispatchSamples() {
    if (m_state != State::Started)
        return S_OK;
    HRESULT hr = S_OK;
    while (!m_samples.empty() && !m_requests.empty()) {
        const ComPtr<IMFSample> sample = std::move(m_samples.front().sample);
        const ComPtr<IUnknown> token = std::move(m_requests.front());
        m_samples.pop_front();
        m_requests.pop_front();
        if (token) {
            hr = LogIfFailed(sample->SetUnknown(MFSampleExtension_Token, token.Get()),
                             "hr = sample->SetUnknown( MFSampleExtension_Token, token )");
        } else {
            // A recycled sample must not carry the token of an earlier request.
            sample->DeleteItem(MFSampleExtension_Token);
        }
        if (SUCCEEDED(hr))
            hr = LogIfFailed(
                m_eventQueue->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample.Get()),
                "hr = m_eventQueue->QueueEventParamUnk( MEMediaSample, GUID_NULL, S_OK, sample )");
        if (FAILED(hr))
            break;
    }
    if (SUCCEEDED(hr) && m_samples.empty() && m_endOfStream) {
        hr = LogIfFailed(m_eventQueue->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr),
                         "hr = m_eventQueue->QueueEventParamVar( MEEndOfStream, GUID_NULL, S_OK, NULL )");
        if (SUCCEEDED(hr) && m_source != nullptr)
            hr = LogIfFailed(m_source->QueueAsyncOp(MediaSource::AsyncOpType::EndOfStream),
                             "hr = m_source->QueueAsyncOp( MediaSource::AsyncOpType::EndOfStream )");
    }
    if (FAILED(hr) && m_state != State::Shutdown && m_source != nullptr)
        m_source->QueueEvent(MEError, GUID_NULL, hr, nullptr);
    return hr;
}

HRESULT MediaStream::Activate(bool selected) {
    std::lock_guard lock(*m_lock);
    HRESULT hr = CheckShutdown();
    if (FAILED(hr))
        return hr;
    if (selected == IsActive())
        return S_OK;
    m_active = selected ? 1 : 0;
    if (!selected)
        ClearQueues();
    return S_OK;
}

HRESULT MediaStream::Start(const PROPVARIANT& propVar) {
    std::lock_guard lock(*m_lock);
    HRESULT hr = CheckShutdown();
    if (SUCCEEDED(hr))
        hr = LogIfFailed(QueueEvent(MEStreamStarted, GUID_NULL, S_OK, &propVar),
                         "hr = QueueEvent( MEStreamStarted, GUID_NULL, S_OK, &propVar )");
    if (FAILED(hr))
        return hr;
    m_state = State::Started;
    return DispatchSamples();
}

HRESULT MediaStream::Pause() {
    std::lock_guard lock(*m_lock);
    const HRESULT hr = CheckShutdown();
    if (FAILED(hr))
        return hr;
    m_state = State::Paused;
    return LogIfFailed(QueueEvent(MEStreamPaused, GUID_NULL, S_OK, nullptr),
                       "hr = QueueEvent( MEStreamPaused, GUID_NULL, S_OK, NULL )");
}

HRESULT MediaStream::Stop() {
    std::lock_guard lock(*m_lock);
    const HRESULT hr = CheckShutdown();
    if (FAILED(hr))
        return hr;
    ClearQueues();
    m_state = State::Stopped;
    return LogIfFailed(QueueEvent(MEStreamStopped, GUID_NULL, S_OK, nullptr),
                       "hr = QueueEvent( MEStreamStopped, GUID_NULL, S_OK, NULL )");
}

HRESULT MediaStream::Shutdown() {
    std::lock_guard lock(*m_lock);
    if (m_state == State::Shutdown)
        return MF_E_SHUTDOWN;
    m_state = State::Shutdown;
    const HRESULT hr = m_eventQueue ? m_eventQueue->Shutdown() : S_OK;
    ClearQueues();
    m_streamDesc = nullptr;
    m_eventQueue = nullptr;
    return hr;
}

void MediaStream::DetachSource() {
    std::lock_guard lock(*m_lock);
    m_source = nullptr;
}

void MediaStream::ClearQueues() {
    m_samples.clear();
    m_requests.clear();
}
